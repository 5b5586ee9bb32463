// SPDX-License-Identifier: GPL-3.0-or-later
// Windows' own side of the line, the files and the code pages, under Wine.
#include "common/Files.h"
#include "common/SmallFile.h"
#include "content/TextEncoding.h"
#include "recording/Recorder.h"
#include "recording/RecordingFile.h"
#include "serial/PortDiscovery.h"
#include "windows/ComPort.h"
#include "windows/Wide.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>
#include <windows.h>

using namespace vantrel;
namespace fs = std::filesystem;

namespace {

// A folder of the test's own under the temporary folder, removed at the end.
struct TempDir {
    fs::path path = fs::temp_directory_path() / L"vantrel-test-\u00e9\u4e2d";
    TempDir() { fs::create_directories(path); }
    ~TempDir() { fs::remove_all(path); }
    std::string Write(const wchar_t* name, const std::string& text) const {
        std::ofstream(path / name, std::ios::binary) << text;
        return windows::Utf8((path / name).wstring());
    }
};

}  // namespace

TEST(ComPort, NamesBecomeDevicePaths) {
    const struct { const char* name; const wchar_t* path; } cases[] = {
        {"COM3", L"\\\\.\\COM3"},       {"com12", L"\\\\.\\com12"}, {"COM256", L"\\\\.\\COM256"},
        {"\\\\.\\COM10", L"\\\\.\\COM10"}, {"COM0", L"COM0"},         {"COMX", L"COMX"},
        {"C:\\ports.txt", L"C:\\ports.txt"},
    };
    for (const auto& c : cases) EXPECT_EQ(windows::ComDevicePath(c.name), c.path) << c.name;
}

TEST(ComPort, OpenErrorsAreClassified) {
    const struct { DWORD error; OpenFailure failure; } cases[] = {
        {ERROR_FILE_NOT_FOUND, OpenFailure::NoDevice}, {ERROR_PATH_NOT_FOUND, OpenFailure::NoDevice},
        {ERROR_DEVICE_REMOVED, OpenFailure::NoDevice}, {ERROR_ACCESS_DENIED, OpenFailure::Busy},
        {ERROR_SHARING_VIOLATION, OpenFailure::Busy},   {ERROR_NOT_ENOUGH_MEMORY, OpenFailure::Other},
        {ERROR_INVALID_HANDLE, OpenFailure::NotATerminal},
    };
    for (const auto& c : cases) EXPECT_EQ(windows::ClassifyOpenError(c.error), c.failure) << c.error;
}

TEST(ComPort, WhatCannotBeOpenedSaysWhy) {
    TempDir dir;
    const std::string file = dir.Write(L"not-a-port.txt", "COM1=COM2\n");
    const struct { std::string device; OpenFailure failure; } cases[] = {
        {"COM7", OpenFailure::NoDevice},  // Wine maps no COM7 unless told to
        {"\\\\.\\COM42", OpenFailure::NoDevice},
        {file, OpenFailure::NotATerminal},  // opens, but takes no DCB
        {windows::Utf8(dir.path.wstring()), OpenFailure::NotATerminal},  // access denied, as to a held port
    };
    for (const auto& c : cases) {
        std::unique_ptr<Port> port;
        EXPECT_EQ(OpenFailureOf(OpenSerialPort(c.device, PortUse::Write, 9600, port).error), c.failure) << c.device;
        EXPECT_EQ(port, nullptr) << c.device;
        EXPECT_EQ(ProbeDevice(c.device), c.failure) << c.device;
        EXPECT_EQ(LookAtDevice(c.device), c.failure) << c.device;
    }
    // The plain file is untouched: no frame was written into it.
    EXPECT_EQ(ReadSmallFile(file, 100).text, "COM1=COM2\n");
}

TEST(SmallFile, ReadsThroughUtf16Names) {
    TempDir dir;
    const std::string ok = dir.Write(L"ports-\u00fc.conf", "COM2=COM5\n");
    const std::string big = dir.Write(L"big.conf", std::string(2000, 'x'));
    const SmallFile read = ReadSmallFile(ok, 100), missing = ReadSmallFile(ok + ".none", 100),
                    large = ReadSmallFile(big, 1024), folder = ReadSmallFile(windows::Utf8(dir.path.wstring()), 100);
    EXPECT_TRUE(read.exists && read.problem.empty());
    EXPECT_EQ(read.text, "COM2=COM5\n");
    EXPECT_FALSE(missing.exists);
    EXPECT_EQ(large.problem, "larger than 1 KiB");
    EXPECT_TRUE(large.text.empty());
    EXPECT_EQ(folder.problem, "a folder, not a file");
}

// A recording made here replays on any system: its lines end in LF alone. It
// is made and read through a UTF-16 name, and never made over one that exists.
TEST(Recording, WrittenAndReadBackThroughUtf16Names) {
    TempDir dir;
    const std::string path = windows::Utf8((dir.path / L"till-\u00e9.rec").wstring());
    const std::vector<std::uint8_t> bytes = {0x0C, 'H', 'I', '\n'};
    display::LineChunk till;
    till.bytes = bytes;
    till.lineBaud = 9600;
    {
        display::Recorder recorder(path, false, {"COM1", 9600, "CD5220"});
        recorder.Add(till, std::chrono::steady_clock::now());
        EXPECT_EQ(recorder.Problem(), "");
    }
    EXPECT_THROW(display::Recorder(path, false, {"COM1", 9600, "CD5220"}), std::runtime_error);
    const std::string text = ReadSmallFile(path, 4096).text;
    EXPECT_EQ(text.find('\r'), std::string::npos) << text;
    EXPECT_NE(text.find("\n\n0.000 T 9600 0C 48 49 0A\n"), std::string::npos) << text;
    display::RecordingReader reader;
    std::string error, note;
    ASSERT_TRUE(reader.Open(path, error, note)) << error;
    display::RecordedChunk chunk;
    ASSERT_TRUE(reader.Next(chunk));
    EXPECT_EQ(chunk.bytes, bytes);
    EXPECT_FALSE(reader.Next(chunk));
}

// A device is never a recording, whatever its spelling and --force or not;
// one that is being written is held: a second writer is refused as busy, and
// the first one's file is left whole.
TEST(Recording, DevicesAreRefusedAndARecordingIsHeld) {
    for (const char* device : {"COM5", "COM5.rec", "com1.txt", "AUX", "NUL", "CON", "\\\\.\\COM5", "//./NUL"})
        for (bool replace : {false, true}) {
            const NewFile file = MakeToWrite(device, replace);
            EXPECT_LT(file.fd, 0) << device;
            EXPECT_EQ(file.problem, "not a regular file") << device << " " << replace;
        }
    std::string problem;
    EXPECT_EQ(OpenToRead("CON", problem), nullptr);
    EXPECT_EQ(problem, "not a regular file");
    TempDir dir;
    const std::string path = windows::Utf8((dir.path / L"held.rec").wstring());
    const NewFile first = MakeToWrite(path, false);
    ASSERT_GE(first.fd, 0) << first.problem;
    EXPECT_EQ(WriteAll(first.fd, "kept\n"), "");
    EXPECT_EQ(MakeToWrite(path, true).problem, FileBusy);
    EXPECT_TRUE(MakeToWrite(path, false).exists);
    CloseFile(first.fd);
    EXPECT_EQ(ReadSmallFile(path, 4096).text, "kept\n");
    const NewFile again = MakeToWrite(path, true);
    ASSERT_GE(again.fd, 0) << again.problem;
    CloseFile(again.fd);
    EXPECT_EQ(ReadSmallFile(path, 4096).text, "");
}

TEST(Mapping, EnvironmentThenFileThenTheComPortItself) {
    const std::string path = MappingFilePath();
    ASSERT_NE(path.find("\\Vantrel\\ports.conf"), std::string::npos) << path;
    fs::create_directories(fs::path(windows::Wide(path)).parent_path());
    std::ofstream(fs::path(windows::Wide(path)), std::ios::binary)
        << "# test\nCOM3=\\\\.\\COM12\nCOM4=rfc2217://till:2217\nCOM2=COM8\ncom5:=com12\n";
    _wputenv(L"VANTREL_COM2=com9:");
    _wputenv(L"VANTREL_COM6=COM\x01");  // a control character: ignored
    _wputenv(L"VANTREL_COM7=AUX");       // an alias: kept, so that COM7 refuses to open
    const PortAssignments ports = ResolvePorts();
    _wputenv(L"VANTREL_COM2=");
    _wputenv(L"VANTREL_COM6=");
    _wputenv(L"VANTREL_COM7=");
    fs::remove(fs::path(windows::Wide(path)));
    const struct { int n; const char* device; MapSource source; } cases[] = {
        {2, "COM9", MapSource::Environment}, {3, "\\\\.\\COM12", MapSource::File},
        {4, "rfc2217://till:2217", MapSource::File}, {5, "COM12", MapSource::File},
        {6, "COM6", MapSource::Fallback}, {7, "AUX", MapSource::Environment},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ports[c.n - 1].device, c.device) << c.n;
        EXPECT_EQ(ports[c.n - 1].source, c.source) << c.n;
    }
    EXPECT_EQ(ProbePort(ports[6].device).failure, OpenFailure::Other);
    EXPECT_NE(ProbePort(ports[6].device).detail.find("alias AUX"), std::string::npos);
}

// The panel's text: the single-byte page from the shared table, the
// double-byte set through code page 936; what a set lacks, and anything
// beyond the Basic Multilingual Plane, is one '?'.
TEST(TextEncoding, BothCodePagesOnWindowsOwnConverter) {
    const struct { std::u16string text; PanelCodePage page; std::size_t capacity; std::string bytes; } cases[] = {
        {u"A\u20AC\u00E9", PanelCodePage::Windows1252, 8, "A\x80\xE9"},
        {u"\u4E2D\u0410", PanelCodePage::Windows1252, 8, "??"},
        {u"\U0001F600x", PanelCodePage::Windows1252, 8, "?x"},
        {u"\u4E2D\u6587A", PanelCodePage::Gbk, 8, "\xD6\xD0\xCE\xC4" "A"},
        {u"\U00020000\u4E2D", PanelCodePage::Gbk, 8, "?\xD6\xD0"},
        {u"\uE000A", PanelCodePage::Gbk, 8, "?A"},  // a private character: GBK's user rows on Windows only
        {u"A\u4E2D", PanelCodePage::Gbk, 2, "A"},  // half a character is never sent
        {std::u16string(1, char16_t(0xD800)) + u"A", PanelCodePage::Gbk, 8, "?A"},  // a lone surrogate
    };
    for (const auto& c : cases) {
        std::uint8_t out[8];
        const std::size_t n = EncodeText(c.text, c.page, out, c.capacity);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(out), n), c.bytes) << c.bytes;
    }
}
