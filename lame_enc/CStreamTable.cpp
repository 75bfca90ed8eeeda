#include "lame_enc/CStreamTable.h"

#include <lame/lame.h>

#include <algorithm>
#include <cstring>
#include <new>

namespace lame_enc {

CStreamTable& CStreamTable::Instance() {
    static CStreamTable table;
    return table;
}

CLameStream* CStreamTable::Find(HBE_STREAM handle) {
    auto it = m_streams.find(handle);
    return it != m_streams.end() ? it->second.get() : nullptr;
}

void CStreamTable::Forget(HBE_STREAM handle) {
    m_closed.erase(std::remove(m_closed.begin(), m_closed.end(), handle), m_closed.end());
    m_streams.erase(handle);
}

BE_ERR CStreamTable::InitStream(PBE_CONFIG pbeConfig, BE_DWORD* dwSamples, BE_DWORD* dwBufferSize,
                                HBE_STREAM* phbeStream) {
    if (pbeConfig == nullptr || dwSamples == nullptr || dwBufferSize == nullptr ||
        phbeStream == nullptr)
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    // No exception may leave the library: its callers are C.
    try {
        BE_ERR err = BE_ERR_SUCCESSFUL;
        std::unique_ptr<CLameStream> stream = CLameStream::Create(*pbeConfig, err);
        if (!stream) return err;
        BE_DWORD samples = stream->SamplesPerChunk(), size = stream->OutputBufferSize();
        std::lock_guard<std::mutex> guard(m_lock);
        HBE_STREAM handle = m_lastHandle + 1;
        m_streams[handle] = std::move(stream);
        m_lastHandle = handle;
        *dwSamples = samples;
        *dwBufferSize = size;
        *phbeStream = handle;
        return BE_ERR_SUCCESSFUL;
    } catch (const std::bad_alloc&) {
        return BE_ERR_NO_MORE_HANDLES;
    }
}

BE_ERR CStreamTable::EncodeChunk(HBE_STREAM hbeStream, BE_DWORD nSamples, const int16_t* pSamples,
                                 BE_BYTE* pOutput, BE_DWORD* pdwOutput) {
    std::lock_guard<std::mutex> guard(m_lock);
    CLameStream* stream = Find(hbeStream);
    if (stream == nullptr) return BE_ERR_INVALID_HANDLE;
    return stream->Encode(nSamples, pSamples, pOutput, pdwOutput);
}

BE_ERR CStreamTable::DeinitStream(HBE_STREAM hbeStream, BE_BYTE* pOutput, BE_DWORD* pdwOutput) {
    std::lock_guard<std::mutex> guard(m_lock);
    CLameStream* stream = Find(hbeStream);
    if (stream == nullptr) return BE_ERR_INVALID_HANDLE;
    return stream->Flush(pOutput, pdwOutput);
}

BE_ERR CStreamTable::CloseStream(HBE_STREAM hbeStream) {
    std::lock_guard<std::mutex> guard(m_lock);
    CLameStream* stream = Find(hbeStream);
    if (stream == nullptr || !stream->IsOpen()) return BE_ERR_INVALID_HANDLE;
    stream->Close();
    // Kept even without a tag: a beWriteVBRHeader call after it is this stream's, not an
    // earlier one's.
    try {
        m_closed.push_back(hbeStream);
    } catch (const std::bad_alloc&) {
        Forget(hbeStream);
    }
    while (m_closed.size() > kMaxClosed) Forget(m_closed.front());
    return BE_ERR_SUCCESSFUL;
}

BE_ERR CStreamTable::WriteVBRHeader(const char* fileName) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_closed.empty()) return BE_ERR_INVALID_HANDLE;
    HBE_STREAM handle = m_closed.back();
    BE_ERR err = Find(handle)->WriteTag(fileName);
    Forget(handle);
    return err;
}

BE_ERR CStreamTable::WriteInfoTag(HBE_STREAM hbeStream, const char* fileName) {
    std::lock_guard<std::mutex> guard(m_lock);
    CLameStream* stream = Find(hbeStream);
    // The tag is only final once the stream was flushed and closed.
    if (stream == nullptr || stream->IsOpen()) return BE_ERR_INVALID_HANDLE;
    BE_ERR err = stream->WriteTag(fileName);
    Forget(hbeStream);
    return err;
}

void CStreamTable::Version(PBE_VERSION pbeVersion) {
    if (pbeVersion == nullptr) return;
    std::memset(pbeVersion, 0, sizeof *pbeVersion);
    pbeVersion->byDLLMajorVersion = LAME_ENC_VERSION_MAJOR;
    pbeVersion->byDLLMinorVersion = LAME_ENC_VERSION_MINOR;
    lame_version_t v{};
    get_lame_version_numerical(&v);
    pbeVersion->byMajorVersion = static_cast<BE_BYTE>(v.major);
    pbeVersion->byMinorVersion = static_cast<BE_BYTE>(v.minor);
    pbeVersion->byAlphaLevel = static_cast<BE_BYTE>(v.alpha);
    pbeVersion->byBetaLevel = static_cast<BE_BYTE>(v.beta);
    constexpr unsigned long date = LAME_ENC_BUILD_DATE;  // yyyymmdd
    pbeVersion->wYear = static_cast<BE_WORD>(date / 10000);
    pbeVersion->byMonth = static_cast<BE_BYTE>(date / 100 % 100);
    pbeVersion->byDay = static_cast<BE_BYTE>(date % 100);
    if (const char* url = get_lame_url(); url != nullptr)
        std::strncpy(pbeVersion->zHomepage, url, BE_MAX_HOMEPAGE);
}

}  // namespace lame_enc
