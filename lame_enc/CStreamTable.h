// The encoder streams of one loaded liblame_enc.so, by handle, and the seven "be" operations on
// them. Handles are checked against the table and never given out twice, so a stale or made-up
// handle is refused, not used.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "lame_enc/BladeMP3EncDLL.h"
#include "lame_enc/CLameStream.h"

namespace lame_enc {

class CStreamTable {
  public:
    static CStreamTable& Instance();

    BE_ERR InitStream(PBE_CONFIG pbeConfig, BE_DWORD* dwSamples, BE_DWORD* dwBufferSize,
                      HBE_STREAM* phbeStream);
    BE_ERR EncodeChunk(HBE_STREAM hbeStream, BE_DWORD nSamples, const int16_t* pSamples,
                       BE_BYTE* pOutput, BE_DWORD* pdwOutput);
    BE_ERR DeinitStream(HBE_STREAM hbeStream, BE_BYTE* pOutput, BE_DWORD* pdwOutput);
    BE_ERR CloseStream(HBE_STREAM hbeStream);
    BE_ERR WriteVBRHeader(const char* fileName);
    BE_ERR WriteInfoTag(HBE_STREAM hbeStream, const char* fileName);
    static void Version(PBE_VERSION pbeVersion);

    // Closed streams whose tag call never came are dropped beyond this many.
    static constexpr size_t kMaxClosed = 16;

  private:
    CLameStream* Find(HBE_STREAM handle);
    void Forget(HBE_STREAM handle);

    std::mutex m_lock;
    std::map<HBE_STREAM, std::unique_ptr<CLameStream>> m_streams;
    // Closed streams still waiting for their tag call, oldest first.
    std::vector<HBE_STREAM> m_closed;
    // Not the stream's address: a freed stream's memory comes back for the next one.
    HBE_STREAM m_lastHandle = 0;
};

}  // namespace lame_enc
