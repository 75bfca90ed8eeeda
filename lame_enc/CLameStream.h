// One encoder stream of liblame_enc.so: a libmp3lame encoder set up from a BE_CONFIG record, and
// after the flush the Info/Xing tag frame that is later written into the finished file.
#pragma once

#include <lame/lame.h>

#include <memory>
#include <vector>

#include "lame_enc/BladeMP3EncDLL.h"

namespace lame_enc {

class CLameStream {
  public:
    // Null with the error code in err when the record asks for something the encoder cannot do.
    static std::unique_ptr<CLameStream> Create(const BE_CONFIG& config, BE_ERR& err);
    ~CLameStream();
    CLameStream(const CLameStream&) = delete;
    CLameStream& operator=(const CLameStream&) = delete;

    BE_DWORD SamplesPerChunk() const { return m_dwSamplesPerChunk; }
    BE_DWORD OutputBufferSize() const { return m_dwOutputSize; }
    bool IsOpen() const { return m_gf != nullptr; }

    // pOutput must hold OutputBufferSize() bytes.
    BE_ERR Encode(BE_DWORD nSamples, const int16_t* pSamples, BE_BYTE* pOutput,
                  BE_DWORD* pdwOutput);
    BE_ERR Flush(BE_BYTE* pOutput, BE_DWORD* pdwOutput);
    // Releases the encoder; the tag frame taken at the flush survives it.
    void Close();
    // Puts the tag frame over the placeholder frame at the start of the file's audio; a stream
    // closed before its flush has no tag to give.
    BE_ERR WriteTag(const char* fileName);

  private:
    CLameStream() = default;

    lame_global_flags* m_gf = nullptr;
    int m_nChannels = 1;
    BE_DWORD m_dwSamplesPerChunk = 0;
    BE_DWORD m_dwOutputSize = 0;
    bool m_bFlushed = false;
    std::vector<unsigned char> m_tag;
};

}  // namespace lame_enc
