// Test builds of the encoder library: the real encoder behind the entry points, minus the ones a
// build leaves out (OMIT_BE_VERSION, OMIT_BE_WRITE_INFO_TAG), and with WITH_FAULTS failures on
// request through VEXA_TEST_LAME_FAULT: "init", "deinit", or "encode:N" (the Nth chunk and every
// later one fail).
#include <cstdlib>
#include <cstring>
#include <string>

#include "lame_enc/BladeMP3EncDLL.h"
#include "lame_enc/CStreamTable.h"

#define BE_EXPORT extern "C" __attribute__((visibility("default")))

using lame_enc::CStreamTable;

namespace {

constexpr BE_ERR kInjectedError = 0x1234;

bool Fault(const char* what, unsigned long* nth = nullptr) {
#ifdef WITH_FAULTS
    const char* fault = std::getenv("VEXA_TEST_LAME_FAULT");
    if (fault == nullptr) return false;
    std::size_t n = std::strlen(what);
    if (std::strncmp(fault, what, n) != 0) return false;
    if (nth != nullptr && fault[n] == ':') *nth = std::strtoul(fault + n + 1, nullptr, 10);
    return true;
#else
    (void)what;
    (void)nth;
    return false;
#endif
}

unsigned long g_chunks = 0;

}  // namespace

BE_EXPORT BE_ERR beInitStream(PBE_CONFIG pbeConfig, BE_DWORD* dwSamples, BE_DWORD* dwBufferSize,
                              HBE_STREAM* phbeStream) {
    if (Fault("init")) return kInjectedError;
    g_chunks = 0;
    return CStreamTable::Instance().InitStream(pbeConfig, dwSamples, dwBufferSize, phbeStream);
}

BE_EXPORT BE_ERR beEncodeChunk(HBE_STREAM hbeStream, BE_DWORD nSamples, int16_t* pSamples,
                               BE_BYTE* pOutput, BE_DWORD* pdwOutput) {
    unsigned long nth = 0;
    if (Fault("encode", &nth) && ++g_chunks >= nth) return kInjectedError;
    return CStreamTable::Instance().EncodeChunk(hbeStream, nSamples, pSamples, pOutput, pdwOutput);
}

BE_EXPORT BE_ERR beDeinitStream(HBE_STREAM hbeStream, BE_BYTE* pOutput, BE_DWORD* pdwOutput) {
    if (Fault("deinit")) return kInjectedError;
    return CStreamTable::Instance().DeinitStream(hbeStream, pOutput, pdwOutput);
}

BE_EXPORT BE_ERR beCloseStream(HBE_STREAM hbeStream) {
    return CStreamTable::Instance().CloseStream(hbeStream);
}

#ifndef OMIT_BE_VERSION
BE_EXPORT void beVersion(PBE_VERSION pbeVersion) {
    CStreamTable::Version(pbeVersion);
}
#endif

BE_EXPORT BE_ERR beWriteVBRHeader(const char* lpszFileName) {
    return CStreamTable::Instance().WriteVBRHeader(lpszFileName);
}

#ifndef OMIT_BE_WRITE_INFO_TAG
BE_EXPORT BE_ERR beWriteInfoTag(HBE_STREAM hbeStream, const char* lpszFileName) {
    return CStreamTable::Instance().WriteInfoTag(hbeStream, lpszFileName);
}
#endif
