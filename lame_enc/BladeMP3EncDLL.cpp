// The library's exported entry points; everything else in it is hidden.
#include "lame_enc/BladeMP3EncDLL.h"

#include "lame_enc/CStreamTable.h"

#define BE_EXPORT extern "C" __attribute__((visibility("default")))

using lame_enc::CStreamTable;

BE_EXPORT BE_ERR beInitStream(PBE_CONFIG pbeConfig, BE_DWORD* dwSamples, BE_DWORD* dwBufferSize,
                              HBE_STREAM* phbeStream) {
    return CStreamTable::Instance().InitStream(pbeConfig, dwSamples, dwBufferSize, phbeStream);
}

BE_EXPORT BE_ERR beEncodeChunk(HBE_STREAM hbeStream, BE_DWORD nSamples, int16_t* pSamples,
                               BE_BYTE* pOutput, BE_DWORD* pdwOutput) {
    return CStreamTable::Instance().EncodeChunk(hbeStream, nSamples, pSamples, pOutput, pdwOutput);
}

BE_EXPORT BE_ERR beDeinitStream(HBE_STREAM hbeStream, BE_BYTE* pOutput, BE_DWORD* pdwOutput) {
    return CStreamTable::Instance().DeinitStream(hbeStream, pOutput, pdwOutput);
}

BE_EXPORT BE_ERR beCloseStream(HBE_STREAM hbeStream) {
    return CStreamTable::Instance().CloseStream(hbeStream);
}

BE_EXPORT void beVersion(PBE_VERSION pbeVersion) {
    CStreamTable::Version(pbeVersion);
}

BE_EXPORT BE_ERR beWriteVBRHeader(const char* lpszFileName) {
    return CStreamTable::Instance().WriteVBRHeader(lpszFileName);
}

BE_EXPORT BE_ERR beWriteInfoTag(HBE_STREAM hbeStream, const char* lpszFileName) {
    return CStreamTable::Instance().WriteInfoTag(hbeStream, lpszFileName);
}

// The entry points must keep the types the loaders cast them to.
#include <type_traits>
static_assert(std::is_same_v<decltype(&beInitStream), BEINITSTREAM>);
static_assert(std::is_same_v<decltype(&beEncodeChunk), BEENCODECHUNK>);
static_assert(std::is_same_v<decltype(&beDeinitStream), BEDEINITSTREAM>);
static_assert(std::is_same_v<decltype(&beCloseStream), BECLOSESTREAM>);
static_assert(std::is_same_v<decltype(&beVersion), BEVERSION>);
static_assert(std::is_same_v<decltype(&beWriteVBRHeader), BEWRITEVBRHEADER>);
static_assert(std::is_same_v<decltype(&beWriteInfoTag), BEWRITEINFOTAG>);
