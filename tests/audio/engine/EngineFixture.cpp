#include "tests/audio/engine/EngineFixture.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <utility>

#include "platform/core/Paths.h"

namespace vexa::testing {

std::vector<std::uint8_t> ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void WriteFileBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

bool FileExists(const std::string& path) {
    return std::filesystem::exists(path);
}

std::uint32_t U32At(const std::vector<std::uint8_t>& b, std::size_t o) {
    return static_cast<std::uint32_t>(b.at(o)) | (static_cast<std::uint32_t>(b.at(o + 1)) << 8) |
           (static_cast<std::uint32_t>(b.at(o + 2)) << 16) |
           (static_cast<std::uint32_t>(b.at(o + 3)) << 24);
}

std::uint16_t U16At(const std::vector<std::uint8_t>& b, std::size_t o) {
    return static_cast<std::uint16_t>(b.at(o) | (b.at(o + 1) << 8));
}

void PutU32(std::vector<std::uint8_t>& b, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

void PutU16(std::vector<std::uint8_t>& b, std::uint16_t v) {
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
}

void PutTag(std::vector<std::uint8_t>& b, const char* tag) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(tag[i]));
}

void PutChunk(std::vector<std::uint8_t>& b, const char* tag,
              const std::vector<std::uint8_t>& body) {
    PutTag(b, tag);
    PutU32(b, static_cast<std::uint32_t>(body.size()));
    for (std::uint8_t byte : body) b.push_back(byte);
    if (body.size() % 2) b.push_back(0);
}

std::vector<std::uint8_t> FormatBody(std::uint16_t channels, std::uint32_t rate, std::uint16_t bits,
                                     std::size_t size) {
    std::vector<std::uint8_t> f;
    std::uint16_t block = static_cast<std::uint16_t>(channels * bits / 8);
    PutU16(f, 1);
    PutU16(f, channels);
    PutU32(f, rate);
    PutU32(f, rate * block);
    PutU16(f, block);
    PutU16(f, bits);
    while (f.size() < size) f.push_back(f.size() == 16 ? static_cast<std::uint8_t>(size - 18) : 0);
    return f;
}

std::vector<std::uint8_t> RiffWave(const std::vector<std::uint8_t>& chunks) {
    std::vector<std::uint8_t> b;
    PutTag(b, "RIFF");
    PutU32(b, static_cast<std::uint32_t>(chunks.size() + 4));
    PutTag(b, "WAVE");
    for (std::uint8_t byte : chunks) b.push_back(byte);
    return b;
}

std::vector<std::uint8_t> ExpectedWaveHeader(std::uint16_t channels, std::uint32_t dataBytes) {
    std::vector<std::uint8_t> h;
    PutTag(h, "RIFF");
    PutU32(h, 38 + dataBytes + (dataBytes & 1));
    PutTag(h, "WAVE");
    PutTag(h, "fmt ");
    PutU32(h, 18);
    PutU16(h, 1);
    PutU16(h, channels);
    PutU32(h, 22050);
    PutU32(h, 22050u * channels * 2);
    PutU16(h, static_cast<std::uint16_t>(channels * 2));
    PutU16(h, 16);
    PutU16(h, 0);
    PutTag(h, "data");
    PutU32(h, dataBytes);
    return h;
}

CTempFolder::CTempFolder() {
    char pattern[] = "/tmp/vexa-audio-XXXXXX";
    char* made = mkdtemp(pattern);
    m_path = made != nullptr ? made : "/tmp";
}

CTempFolder::~CTempFolder() {
    std::error_code ignored;
    if (m_path != "/tmp") std::filesystem::remove_all(m_path, ignored);
}

CLoopingMessageBox::CLoopingMessageBox(std::function<void()> whileOpen,
                                       platform::IMessageBox* previous)
    : m_whileOpen(std::move(whileOpen)), m_previous(previous) {
    platform::SetMessageBoxService(this);
}

CLoopingMessageBox::~CLoopingMessageBox() {
    platform::SetMessageBoxService(m_previous);
}

void CLoopingMessageBox::Show(const std::string& text, const std::string&) {
    texts.push_back(text);
    if (auto run = std::exchange(m_whileOpen, nullptr)) run();
}

EngineTest::EngineTest() {
    const char* old = std::getenv("XDG_STATE_HOME");
    m_oldState = old != nullptr ? old : "";
    setenv("XDG_STATE_HOME", m_state.Path().c_str(), 1);
    platform::StateFolder();
    m_engine = std::make_unique<CAudioPlayRec>();
}

EngineTest::~EngineTest() {
    m_engine.reset();
    if (m_oldState.empty()) {
        unsetenv("XDG_STATE_HOME");
    } else {
        setenv("XDG_STATE_HOME", m_oldState.c_str(), 1);
    }
}

void EngineTest::Hook(std::uint32_t msg, void* context) {
    auto* self = static_cast<EngineTest*>(context);
    self->m_messages[msg]++;
    self->m_order.push_back(msg);
}

void EngineTest::CreateEngine(std::uint32_t device) {
    ASSERT_TRUE(m_engine->Create(device, 0, this));
    m_engine->SetNotify(&EngineTest::Hook, this);
}

std::string EngineTest::StatePath(const std::string& name) const {
    return m_state.Path() + "/quinbery/" + name;
}

bool EngineTest::RunUntilReady(std::uint64_t maxMs) {
    for (std::uint64_t t = 0; t < maxMs; t += 10) {
        m_loop.RunFor(10);
        if (m_engine->GetState() == CAudioPlayRec::Ready) return true;
    }
    return m_engine->GetState() == CAudioPlayRec::Ready;
}

bool EngineTest::HasBox(const std::string& text) const {
    for (const auto& t : m_boxes.Texts())
        if (t == text) return true;
    return false;
}

bool EngineTest::HasBoxEndingWith(const std::string& tail) const {
    for (const auto& t : m_boxes.Texts())
        if (t.size() >= tail.size() && t.compare(t.size() - tail.size(), tail.size(), tail) == 0)
            return true;
    return false;
}

}  // namespace vexa::testing
