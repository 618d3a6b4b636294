// SPDX-License-Identifier: MIT
// Runs the built corvane tool on its virtual chip, each test with a state
// file of its own, and checks what a person or a script would see: output,
// error messages and exit codes.

#include <gtest/gtest.h>

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#if !defined(_WIN32)
extern char** environ;
#endif

namespace {

namespace fs = std::filesystem;

struct Outcome {
    int code = -1;
    std::string out;
    std::string err;

    std::vector<std::string> ErrLines() const {
        std::vector<std::string> lines;
        std::istringstream in(err);
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }
};

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

class ToolTest : public ::testing::Test {
  protected:
    void SetUp() override {
#if defined(_WIN32)
        std::random_device random;
        do {
            dir = fs::temp_directory_path() / ("corvane-tool-" + std::to_string(random()));
        } while (!fs::create_directory(dir));
#else
        std::string pattern = (fs::temp_directory_path() / "corvane-tool-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir = pattern;
#endif
        state = dir / "state.json";
    }
    void TearDown() override {
        std::error_code ignored;  // Wine may still hold a file of the last run for a moment
        fs::remove_all(dir, ignored);
    }

    // The tool on the virtual chip with this test's state file.
    Outcome Sim(std::vector<std::string> args) {
        args.insert(args.begin(), {"--sim", "--sim-state", state.string()});
        return Tool(args);
    }

    Outcome Tool(const std::vector<std::string>& args) {
        return Program(CORVANE_TOOL, args);
    }

    // Any program, with `input` (a file) as its standard input when set.
    Outcome Program(const std::string& program, const std::vector<std::string>& args) {
        const fs::path out = dir / "stdout";
        const fs::path err = dir / "stderr";
        Outcome run;
        run.code = Run(program, args, out, err);
        input.clear();
        run.out = ReadFile(out);
        run.err = ReadFile(err);
#if defined(_WIN32)
        // Text written to a file on Windows ends its lines in CR LF.
        for (std::string* text : {&run.out, &run.err}) {
            *text = std::regex_replace(*text, std::regex("\r\n"), "\n");
        }
#endif
        return run;
    }

    // Nothing of the person's own state: the default state file goes here too.
    static bool Replaced(const std::string& entry) {
        for (const char* name : {"XDG_STATE_HOME=", "HOME=", "LOCALAPPDATA="}) {
            if (entry.size() >= std::strlen(name) &&
                std::equal(name, name + std::strlen(name), entry.begin(), [](char a, char b) {
                    return std::toupper(static_cast<unsigned char>(a)) ==
                           std::toupper(static_cast<unsigned char>(b));
                })) {
                return true;
            }
        }
        return false;
    }
    std::vector<std::string> Environment() const {
        return {"XDG_STATE_HOME=" + dir.string(), "HOME=" + dir.string(),
                "LOCALAPPDATA=" + dir.string()};
    }

#if defined(_WIN32)
    static std::wstring Wide(const std::string& text) {
        std::wstring wide(text.size(), L'\0');
        wide.resize(static_cast<std::size_t>(
            MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                                static_cast<int>(wide.size()))));
        return wide;
    }

    // One argument as the C runtime splits a command line again.
    static std::wstring Quoted(const std::wstring& arg) {
        if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
        std::wstring quoted = L"\"";
        std::size_t backslashes = 0;
        for (const wchar_t c : arg) {
            if (c == L'\\') {
                ++backslashes;
                continue;
            }
            quoted.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
            backslashes = 0;
            quoted.push_back(c);
        }
        quoted.append(2 * backslashes, L'\\');
        return quoted + L"\"";
    }

    int Run(const std::string& path, const std::vector<std::string>& args, const fs::path& out,
            const fs::path& err) {
        const std::wstring program = fs::path(path).make_preferred().wstring();
        std::wstring commandLine = Quoted(program);
        for (const std::string& arg : args) commandLine += L" " + Quoted(Wide(arg));

        std::wstring environment;
        for (const std::string& entry : Environment()) environment += Wide(entry) + L'\0';
        wchar_t* inherited = GetEnvironmentStringsW();
        for (const wchar_t* e = inherited; *e; e += std::wcslen(e) + 1) {
            const std::wstring entry = e;
            if (!Replaced(std::string(entry.begin(), entry.end()))) environment += entry + L'\0';
        }
        FreeEnvironmentStringsW(inherited);
        environment += L'\0';

        // No console: nothing to ask a password on.
        SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
        const auto open = [&](const wchar_t* path, DWORD access, DWORD disposition) {
            return CreateFileW(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               &inheritable, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
        };
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput =
            open(input.empty() ? L"NUL" : input.wstring().c_str(), GENERIC_READ, OPEN_EXISTING);
        startup.hStdOutput = open(out.wstring().c_str(), GENERIC_WRITE, CREATE_ALWAYS);
        startup.hStdError = open(err.wstring().c_str(), GENERIC_WRITE, CREATE_ALWAYS);
        PROCESS_INFORMATION process{};
        DWORD code = static_cast<DWORD>(-1);
        if (CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                           CREATE_NO_WINDOW | CREATE_UNICODE_ENVIRONMENT, environment.data(),
                           nullptr, &startup, &process)) {
            WaitForSingleObject(process.hProcess, INFINITE);
            GetExitCodeProcess(process.hProcess, &code);
            CloseHandle(process.hThread);
            CloseHandle(process.hProcess);
        }
        for (HANDLE handle : {startup.hStdInput, startup.hStdOutput, startup.hStdError}) {
            CloseHandle(handle);
        }
        return static_cast<int>(code);
    }
#else
    int Run(const std::string& program, const std::vector<std::string>& args, const fs::path& out,
            const fs::path& err) {
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        std::vector<std::string> environment = Environment();
        for (char** e = environ; *e; ++e) {
            if (!Replaced(*e)) environment.push_back(*e);
        }
        std::vector<char*> envp;
        for (std::string& entry : environment) envp.push_back(entry.data());
        envp.push_back(nullptr);

        // A session of its own: no terminal to ask a password on.
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        const std::string in = input.empty() ? "/dev/null" : input.string();
        posix_spawn_file_actions_addopen(&actions, 0, in.c_str(), O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
        posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
        pid_t pid = 0;
        int code = -1;
        if (posix_spawnp(&pid, program.c_str(), &actions, &attributes, argv.data(), envp.data()) ==
            0) {
            int status = 0;
            waitpid(pid, &status, 0);
            code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
        return code;
    }
#endif

    fs::path File(const std::string& name) const {
        return dir / name;
    }

    fs::path dir;
    fs::path state;
    fs::path input;  // the next run's standard input; empty: none
};

// The device path of the virtual bridge `index` (from 0) of a run, as the
// platform names it; on Windows it carries the IDs the chip enumerated with.
std::string SimPath(int index, const std::string& ids = "vid_3a7c&pid_01d5") {
#if defined(_WIN32)
    return "\\\\?\\hid#" + ids + "#corvane-sim-" + std::to_string(index + 1) +
           "#{4d1e55b2-f16f-11cf-88cb-001111000030}";
#else
    (void)ids;
    return "/dev/hidraw" + std::to_string(index);
#endif
}

std::string RandomBytes(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>(random() & 0xFF);
    return bytes;
}

// ---- scan ------------------------------------------------------------------

// i2cdetect's table to the byte: all eight rows, a blank for each cell
// outside the range, each cell followed by a blank.
std::string ScanTable(unsigned first, unsigned last, std::vector<unsigned> found) {
    std::string table = "     0  1  2  3  4  5  6  7  8  9  a  b  c  d  e  f\n";
    for (unsigned row = 0; row < 0x80; row += 16) {
        char label[8];
        std::snprintf(label, sizeof label, "%02x: ", row);
        table += label;
        for (unsigned address = row; address < row + 16; ++address) {
            char cell[8];
            std::snprintf(cell, sizeof cell, "%02x ", address);
            table += address < first || address > last                               ? "   "
                     : std::find(found.begin(), found.end(), address) != found.end() ? cell
                                                                                     : "-- ";
        }
        table += "\n";
    }
    return table;
}

TEST_F(ToolTest, ScanShowsTheBenchAsI2cdetectDoes) {
    struct Row {
        std::vector<std::string> args;
        unsigned first, last;
        std::vector<unsigned> found;
    };
    const Row rows[] = {
        {{"scan"}, 0x08, 0x77, {0x0b, 0x48, 0x50}},
        {{"scan", "-y", "0x4a", "0x51"}, 0x4a, 0x51, {0x50}},
        {{"scan", "-a", "-r"}, 0x00, 0x7f, {0x0b, 0x48, 0x50}},
        {{"scan", "-q", "0x40"}, 0x40, 0x77, {0x48, 0x50}},
    };
    for (const Row& row : rows) {
        const Outcome run = Sim(row.args);
        EXPECT_EQ(run.code, 0) << run.err;
        EXPECT_EQ(run.out, ScanTable(row.first, row.last, row.found)) << row.args.back();
    }
}

TEST_F(ToolTest, ScanProbesByReadWhereI2cdetectReads) {
    const Outcome run = Sim({"--trace", "scan", "0x4f", "0x50"});
    ASSERT_EQ(run.code, 0) << run.err;
    // 0x4f: a zero-length write (0x90, count 0, address byte 0x9e); 0x50: a
    // one-byte read (0x91, count 1, address byte 0xa1).
    EXPECT_NE(run.err.find("> 90 00 00 9e"), std::string::npos);
    EXPECT_NE(run.err.find("> 91 01 00 a1"), std::string::npos);
    EXPECT_EQ(run.err.find("> 90 00 00 a0"), std::string::npos);
}

TEST_F(ToolTest, ScanJsonListsTheAddressesFound) {
    const Outcome run = Sim({"--json", "scan"});
    ASSERT_EQ(run.code, 0) << run.err;
    const auto json = nlohmann::json::parse(run.out);
    EXPECT_EQ(json["found"], nlohmann::json({0x0b, 0x48, 0x50}));
    EXPECT_EQ(json["first"], 0x08);
    EXPECT_EQ(json["last"], 0x77);
}

// ---- settings ----------------------------------------------------------------

// Every setting and which copies the chip has: running, power-up.
struct Key {
    const char* key;
    bool current;
    bool powerUp;
};
constexpr Key kKeys[] = {
    {"vid", true, true},           {"pid", true, true},
    {"power-source", false, true}, {"remote-wakeup", false, true},
    {"current-ma", false, true},   {"serial-enumeration", false, true},
    {"manufacturer", false, true}, {"product", false, true},
    {"serial", false, true},       {"flash-protection", true, false},
    {"led-uart-rx", false, true},  {"led-uart-tx", false, true},
    {"led-i2c", false, true},      {"sspnd", false, true},
    {"usbcfg", false, true},       {"gp0", true, true},
    {"gp1", true, true},           {"gp2", true, true},
    {"gp3", true, true},           {"interrupt-mode", true, true},
    {"clock-divider", true, true}, {"clock-duty", true, true},
    {"dac-vref", true, false},     {"dac-value", true, false},
    {"adc-vref", true, false},     {"firmware", true, false},
};

TEST_F(ToolTest, SettingsTableShowsEverySettingSideBySide) {
    const Outcome run = Sim({"settings"});
    ASSERT_EQ(run.code, 0) << run.err;
    std::istringstream lines(run.out);
    std::string line;
    std::getline(lines, line);
    EXPECT_TRUE(std::regex_match(line, std::regex("setting +current +power-up"))) << line;
    for (const Key& key : kKeys) {
        ASSERT_TRUE(std::getline(lines, line)) << key.key;
        EXPECT_EQ(line.rfind(key.key, 0), 0u) << line;
        EXPECT_EQ(line.find(" - ") != std::string::npos || line.ends_with(" -"),
                  !key.current || !key.powerUp)
            << line;
    }
    EXPECT_NE(run.out.find("vid                 0x3a7c                    0x3a7c\n"),
              std::string::npos);
    EXPECT_NE(
        run.out.find("product             -                         Corvane USB-I2C Bridge\n"),
        std::string::npos);
    EXPECT_NE(run.out.find("clock-divider       2                         2\n"), std::string::npos);
}

TEST_F(ToolTest, SettingsJsonIsValidAndComplete) {
    const Outcome run = Sim({"--json", "settings"});
    ASSERT_EQ(run.code, 0) << run.err;
    const auto json = nlohmann::json::parse(run.out);
    ASSERT_TRUE(json.is_object());
    EXPECT_EQ(json.size(), std::size(kKeys));
    for (const Key& key : kKeys) {
        ASSERT_TRUE(json.contains(key.key)) << key.key;
        const auto& entry = json[key.key];
        ASSERT_TRUE(entry.contains("current") && entry.contains("power-up")) << key.key;
        EXPECT_EQ(!entry["current"].is_null(), key.current) << key.key;
        EXPECT_EQ(!entry["power-up"].is_null(), key.powerUp) << key.key;
    }
    EXPECT_EQ(json["vid"]["power-up"], "0x3a7c");  // as it is typed back
    EXPECT_EQ(json["current-ma"]["power-up"], 100);
    EXPECT_EQ(json["serial-enumeration"]["power-up"], true);
    EXPECT_EQ(json["power-source"]["power-up"], "bus");
    EXPECT_EQ(json["gp0"]["current"], "gpio-in");
    EXPECT_EQ(json["flash-protection"]["current"], "off");
    EXPECT_EQ(json["firmware"]["current"], "1.2");
}

TEST_F(ToolTest, SettingsSurviveBetweenRunsAsOnAChipThatStaysPluggedIn) {
    ASSERT_EQ(Sim({"settings", "set", "product", "Bench bridge"}).code, 0);
    ASSERT_EQ(Sim({"settings", "set", "current-ma", "250"}).code, 0);
    ASSERT_EQ(Sim({"settings", "set", "gp1", "adc", "--power-up"}).code, 0);
    const Outcome set = Sim({"settings", "set", "gp2", "gpio-out-0"});  // running copy only
    ASSERT_EQ(set.code, 0) << set.err;
    EXPECT_EQ(set.out, "gp2  current: gpio-out-0\n");
    ASSERT_EQ(Sim({"gpio", "set", "2", "1"}).code, 0);
    ASSERT_EQ(Sim({"dac", "7"}).code, 0);

    auto json = nlohmann::json::parse(Sim({"--json", "settings"}).out);
    EXPECT_EQ(json["product"]["power-up"], "Bench bridge");
    EXPECT_EQ(json["current-ma"]["power-up"], 250);
    EXPECT_EQ(json["gp1"]["current"], "gpio-in");
    EXPECT_EQ(json["gp1"]["power-up"], "adc");
    EXPECT_EQ(json["gp2"]["current"], "gpio-out-1");
    EXPECT_EQ(json["gp2"]["power-up"], "gpio-in");
    EXPECT_EQ(json["dac-value"]["current"], 7);
    EXPECT_EQ(Sim({"gpio", "get", "2"}).out, "1\n");

    // A reset brings the power-up settings back.
    ASSERT_EQ(Sim({"reset"}).code, 0);
    json = nlohmann::json::parse(Sim({"--json", "settings"}).out);
    EXPECT_EQ(json["gp1"]["current"], "adc");
    EXPECT_EQ(json["gp2"]["current"], "gpio-in");
    EXPECT_EQ(json["dac-value"]["current"], 0);
}

// Text and file names beyond ASCII reach the chip and the disk as UTF-8 and
// come back unchanged (on Windows through the tool's UTF-8 code page).
TEST_F(ToolTest, TextAndFileNamesBeyondAsciiSurviveTheCommandLine) {
    const std::string product =
        "Br\xc3\xbc"
        "cke \xe2\x82\xac";  // Brücke €
    const std::string stateFile = dir.string() + "/zust\xc3\xa4nd.json";
    const std::string image = dir.string() + "/abbild-\xc3\x9f.bin";
    ASSERT_EQ(Tool({"--sim", "--sim-state", stateFile, "settings", "set", "product", product}).code,
              0);
    const Outcome get = Tool({"--sim", "--sim-state", stateFile, "--json", "settings"});
    EXPECT_EQ(nlohmann::json::parse(get.out)["product"]["power-up"], product);
    EXPECT_TRUE(fs::exists(dir / fs::path(u8"zust\u00e4nd.json")));
    ASSERT_EQ(Sim({"eeprom", "read", "0x50", "16", "-o", image}).code, 0);
    EXPECT_EQ(ReadFile(dir / fs::path(u8"abbild-\u00df.bin")), std::string(16, '\xff'));
}

TEST_F(ToolTest, SettingsSetBothChangesBothCopies) {
    const Outcome run = Sim({"settings", "set", "interrupt-mode", "falling", "--both"});
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(run.out, "interrupt-mode  current: falling  power-up: falling\n");
    const Outcome clock = Sim({"settings", "set", "clock-duty", "3", "--power-up"});
    ASSERT_EQ(clock.code, 0) << clock.err;
    const auto json = nlohmann::json::parse(Sim({"--json", "clock"}).out);
    EXPECT_EQ(json["power-up"], nlohmann::json({{"divider", 2}, {"duty", 3}}));
}

// A new ID in the flash takes effect with the next reset, as on the chip:
// the tool warns first, and afterwards points at the bridge under its new IDs.
TEST_F(ToolTest, ANewVendorIdMakesTheChipEnumerateWithItAfterAReset) {
    const Outcome set = Sim({"settings", "set", "vid", "0x1234"});
    ASSERT_EQ(set.code, 0) << set.err;
    EXPECT_NE(set.err.find("no longer find it; reach it with --vid 0x1234 --pid 0x01d5"),
              std::string::npos)
        << set.err;
    EXPECT_EQ(Sim({"list"}).code, 0);  // still enumerated with the old IDs
    ASSERT_EQ(Sim({"reset"}).code, 0);
    const Outcome none = Sim({"list"});
    EXPECT_EQ(none.code, 0);
    EXPECT_EQ(none.out, "");
    const std::string hint = SimPath(0, "vid_1234&pid_01d5") +
                             " has the serial number CVS000001 under USB VID 0x1234, PID 0x01d5: "
                             "a bridge with other IDs in its flash? reach it with --vid 0x1234 "
                             "--pid 0x01d5";
    EXPECT_EQ(none.err,
              "corvane: no Corvane bridge found (searched for USB VID 0x3a7c, PID 0x01d5)\n"
              "corvane: note: " +
                  hint + "\n");
    EXPECT_EQ(nlohmann::json::parse(Sim({"--json", "list"}).out),
              nlohmann::json({{"devices", nlohmann::json::array()}}));
    const Outcome read = Sim({"read", "0x48", "2"});
    EXPECT_EQ(read.code, 1);
    EXPECT_EQ(read.err.rfind("corvane: error -500 BRIDGE_NOT_FOUND: no Corvane bridge found", 0),
              0u);
    EXPECT_NE(read.err.find(hint), std::string::npos);
    EXPECT_EQ(Sim({"--vid", "0x1234", "list"}).code, 0);
    EXPECT_EQ(Sim({"--sim-reset", "read", "0x48", "2"}).code, 0);
    // Without the virtual chip, and no device with the IDs: nothing about udev rules,
    // which are no help when there is no node at all.
    const Outcome real = Tool({"--vid", "0x0001", "--pid", "0x0001", "read", "0x48", "1"});
    EXPECT_EQ(real.code, 1);
    EXPECT_EQ(real.err.rfind("corvane: error -500 BRIDGE_NOT_FOUND: no Corvane bridge found "
                             "(searched for USB VID 0x0001, PID 0x0001)\n",
                             0),
              0u)
        << real.err;
    EXPECT_NE(real.err.find("\n  other IDs: --vid and --pid; no hardware at hand: --sim"),
              std::string::npos);
    EXPECT_EQ(real.err.find("udev"), std::string::npos);
}

// ---- trace -------------------------------------------------------------------------

TEST_F(ToolTest, TracePrintsEveryReportOnALine) {
    const Outcome run = Sim({"--trace", "gpio", "get", "0"});
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(run.out, "1\n");
    const std::string zeros = [] {
        std::string z;
        for (int i = 0; i < 54; ++i) z += " 00";
        return z;
    }();
    ASSERT_EQ(run.ErrLines().size(), 2u) << run.err;
    EXPECT_EQ(run.ErrLines()[0], "> 51 00 00 00 00 00 00 00 00 00" + zeros);
    // GP0 reads high: the bench drives its input.
    EXPECT_EQ(run.ErrLines()[1], "< 51 00 01 01 00 01 00 01 00 01" + zeros);
}

TEST_F(ToolTest, TraceLinesAlternateAndHoldSixtyFourBytes) {
    const Outcome run = Sim({"--trace", "settings"});
    ASSERT_EQ(run.code, 0) << run.err;
    const std::regex line("[<>]( [0-9a-f]{2}){64}");
    const auto lines = run.ErrLines();
    ASSERT_GT(lines.size(), 20u);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        EXPECT_TRUE(std::regex_match(lines[i], line)) << lines[i];
        EXPECT_EQ(lines[i][0], i % 2 == 0 ? '>' : '<') << i;
        EXPECT_EQ(lines[i].substr(2, 2), lines[i - i % 2].substr(2, 2)) << "echoed command code";
    }
}

TEST_F(ToolTest, TraceNeverShowsAPassword) {
    WriteFile(File("pw"), "Secret12\n");
    ASSERT_EQ(Sim({"password", "protect", "--new-password-file", File("pw").string()}).code, 0);
    const Outcome enter =
        Sim({"--trace", "--password-file", File("pw").string(), "password", "enter"});
    ASSERT_EQ(enter.code, 0) << enter.err;
    const Outcome write = Sim({"--trace", "--password-file", File("pw").string(), "settings", "set",
                               "current-ma", "200"});
    ASSERT_EQ(write.code, 0) << write.err;
    // "Secret12" in hex, as it would appear in the reports.
    for (const Outcome* run : {&enter, &write}) {
        EXPECT_EQ(run->err.find("53 65 63 72 65 74 31 32"), std::string::npos);
    }
    EXPECT_NE(enter.err.find("> b2 00 xx xx xx xx xx xx xx xx 00"), std::string::npos);
    EXPECT_NE(write.err.find("xx xx xx xx xx xx xx xx"), std::string::npos);
}

// ---- failures: exit code 1 ------------------------------------------------------------

struct FailureCase {
    std::vector<std::string> args;
    std::string message;  // the whole line on stderr
    std::string out = "";
};

// i2cdump's table of a target where no register could be read.
std::string UnreadableTable() {
    std::string table = "     0  1  2  3  4  5  6  7  8  9  a  b  c  d  e  f    0123456789abcdef\n";
    for (const char* row : {"00", "10", "20", "30", "40", "50", "60", "70", "80", "90", "a0", "b0",
                            "c0", "d0", "e0", "f0"}) {
        table += std::string(row) + ": ";
        for (int i = 0; i < 16; ++i) table += "XX ";
        table += "   " + std::string(16, 'X') + "\n";
    }
    return table;
}

TEST_F(ToolTest, FailuresNameTheCodeAndExitWithOne) {
    const FailureCase cases[] = {
        {{"read", "0x51", "1"},
         "corvane: error -23 I2C_NOT_ACKNOWLEDGED: no device acknowledged address 0x51"},
        {{"write", "0x60", "0x00"},
         "corvane: error -23 I2C_NOT_ACKNOWLEDGED: no device acknowledged address 0x60"},
        {{"eeprom", "read", "0x57", "32K"},
         "corvane: error -23 I2C_NOT_ACKNOWLEDGED: no device acknowledged address 0x57"},
        {{"smbus", "read", "0x0b", "0x20", "4", "--pec"},
         "corvane: error -27 READ_OVERRUN: the block from 0x0b is longer than N (4 bytes)"},
        {{"gpio", "get", "1"},
         "corvane: error -10 PIN_NOT_GPIO: GP1 is not configured as a GPIO (see 'corvane gpio "
         "config')"},
        {{"--device", "1", "list"},
         "corvane: error -500 BRIDGE_NOT_FOUND: there is no device 1: 1 device found (numbered "
         "from 0)"},
        {{"--serial", "NOPE", "list"},
         "corvane: error -500 BRIDGE_NOT_FOUND: no device has the serial number NOPE (found: "
         "CVS000001)"},
        {{"--path", "nowhere", "read", "0x48", "1"},
         "corvane: error -500 BRIDGE_NOT_FOUND: no bridge at nowhere (found: " + SimPath(0) + ")"},
        {{"eeprom", "read", "0x50", "32K", "-o", "/nonexistent-dir/x"},
         "corvane: error: cannot write the output file /nonexistent-dir/x: No such file or "
         "directory"},
        {{"eeprom", "verify", "0x50", "-i", "/nonexistent/in.bin"},
         "corvane: error: cannot read the input file /nonexistent/in.bin: No such file or "
         "directory"},
        {{"settings", "set", "interrupt-mode", "rising"}, ""},
        {{"settings", "set", "interrupt-mode", "none"},
         "corvane: error: the chip takes rising, falling or both; it detects no edges again "
         "only after a reset with none in the power-up copy (the current copy is rising)"},
        {{"transfer", "w1@0x48", "0", "r2@0x50"},
         "corvane: error -301 I2CBUS_NOT_SUPPORTED: the bridge cannot carry out w1@0x48 r2@0x50 "
         "as one transfer: it does one write, one read, or a write of at least one byte followed "
         "by a read of the same address (split the messages into several runs)"},
        // What i2cdump prints, and a failure all the same.
        {{"dump", "0x51"},
         "corvane: error -23 I2C_NOT_ACKNOWLEDGED: no device acknowledged address 0x51",
         UnreadableTable()},
        {{"set", "-r", "0x48", "0", "0x55"},  // the temperature cannot be written
         "corvane: error: 0x00 holds 0x17, not the 0x55 written",
         "Warning - data mismatch - wrote 0x55, read back 0x17\n"},
        {{"eeprom", "write", "0x50", "-i", "/nonexistent/in.bin"},
         "corvane: error: cannot read the input file /nonexistent/in.bin: No such file or "
         "directory"},
    };
    ASSERT_EQ(Sim({"gpio", "config", "--gp1", "adc"}).code, 0);
    for (const FailureCase& c : cases) {
        const Outcome run = Sim(c.args);
        if (c.message.empty()) {  // a step between the rows
            EXPECT_EQ(run.code, 0) << run.err;
            continue;
        }
        EXPECT_EQ(run.code, 1) << c.args[0];
        EXPECT_EQ(run.err, c.message + "\n");
        EXPECT_EQ(run.out, c.out);
    }
}

// With --json every failure is one document on stdout: code, name, message.
TEST_F(ToolTest, JsonFailureAlsoComesOnStdout) {
    WriteFile(File("blocker"), "a file where the state's folder should be");
    struct Row {
        std::vector<std::string> args;
        int exit;
        nlohmann::json error;
    };
    const Row rows[] = {
        {{"read", "0x51", "1"},
         1,
         {{"code", -23},
          {"name", "I2C_NOT_ACKNOWLEDGED"},
          {"message", "no device acknowledged address 0x51"}}},
        {{"read", "0x51"}, 2, {{"code", 2}, {"name", "USAGE"}, {"message", "missing N"}}},
        {{"--password-file", dir.string(), "gpio", "get", "0"},
         1,
         {{"code", 1},
          {"name", "FILE_ERROR"},
          {"message", "cannot read the password file " + dir.string() + ": Is a directory"}}},
        // A state that could not be kept fails the run before the command.
        {{"--sim", "--sim-state", File("blocker/state.json").string(), "read", "0x50", "1"},
         1,
         {{"code", 1},
          {"name", "FILE_ERROR"},
          {"message", "cannot write the virtual chip's state to " +
                          File("blocker/state.json").string() +
#if defined(_WIN32)
                          ": No such file or directory"}}},
#else
                          ": Not a directory"}}},
#endif
        {{"eeprom", "read", "0x50", "16", "-o", "-"},
         2,
         {{"code", 2},
          {"name", "USAGE"},
          {"message", "with --json standard output carries the JSON document: give a FILE"}}},
    };
    for (const Row& row : rows) {
        std::vector<std::string> args{"--json"};
        args.insert(args.end(), row.args.begin(), row.args.end());
        const Outcome run = row.args[0] == "--sim" ? Tool(args) : Sim(args);
        EXPECT_EQ(run.code, row.exit) << run.err;
        const auto json = nlohmann::json::parse(run.out);  // throws for two documents
        EXPECT_EQ(json, row.error);
    }
}

TEST_F(ToolTest, ALockedFlashRefusesChangesAndSaysSo) {
    const Outcome unconfirmed = Sim({"password", "lock"});
    EXPECT_EQ(unconfirmed.code, 2);
    EXPECT_NE(unconfirmed.err.find("cannot be undone"), std::string::npos);
    EXPECT_NE(unconfirmed.err.find("--yes-lock-permanently"), std::string::npos);

    ASSERT_EQ(Sim({"password", "lock", "--yes-lock-permanently"}).code, 0);
    const Outcome change = Sim({"settings", "set", "current-ma", "200"});
    EXPECT_EQ(change.code, 1);
    EXPECT_EQ(change.err,
              "corvane: error 2 DEVICE_STATUS: the chip refused: its flash is locked for good\n");
    const Outcome off = Sim({"password", "off"});
    EXPECT_EQ(off.code, 1);
    EXPECT_NE(off.err.find("error -13 FLASH_LOCKED"), std::string::npos);
    EXPECT_EQ(nlohmann::json::parse(Sim({"--json", "settings"}).out)["flash-protection"]["current"],
              "locked");
}

TEST_F(ToolTest, APasswordProtectedFlashWantsThePassword) {
    WriteFile(File("pw"), "Secret12");
    WriteFile(File("wrong"), "Wrong123");
    const std::string pw = File("pw").string();
    ASSERT_EQ(Sim({"password", "protect", "--new-password-file", pw}).code, 0);
    const std::string refused =
        "corvane: error 3 DEVICE_STATUS: the chip refused: its flash is protected by a "
        "password; give it with --password-file FILE\n";
    const Outcome without = Sim({"settings", "set", "product", "P1"});
    EXPECT_EQ(without.code, 1);
    EXPECT_EQ(without.err, refused);
    // A chip settings write carries the password: without it the chip would
    // take the one it carries as its new one, so the tool asks first.
    const Outcome record = Sim({"settings", "set", "current-ma", "200"});
    EXPECT_EQ(record.code, 1);
    EXPECT_NE(record.err.find("give it with --password-file FILE (a change of this setting"),
              std::string::npos)
        << record.err;
    const Outcome wrong =
        Sim({"--password-file", File("wrong").string(), "settings", "set", "current-ma", "200"});
    EXPECT_EQ(wrong.code, 1);
    EXPECT_NE(wrong.err.find("error -14 PASSWORD_REJECTED"), std::string::npos);
    EXPECT_EQ(Sim({"--password-file", pw, "settings", "set", "current-ma", "200"}).code, 0);
    // The chip keeps an entered password until it is reset, from run to run.
    ASSERT_EQ(Sim({"--password-file", pw, "password", "enter"}).code, 0);
    EXPECT_EQ(Sim({"settings", "set", "product", "P2"}).code, 0);
    ASSERT_EQ(Sim({"reset"}).code, 0);
    EXPECT_EQ(Sim({"settings", "set", "product", "P3"}).err, refused);
    EXPECT_EQ(Sim({"--password-file", pw, "password", "off"}).code, 0);
    EXPECT_EQ(Sim({"settings", "set", "current-ma", "300"}).code, 0);
}

// A chip that stays powered keeps what its targets hold: the EEPROM's address
// counter, the sensor's and the SMBus device's pointer registers, and a
// register a write has emptied stays empty.
TEST_F(ToolTest, TargetsKeepWhatTheyHoldBetweenRuns) {
    ASSERT_EQ(Sim({"write", "0x50", "0x00", "0x10", "0x41", "0x42"}).code, 0);
    ASSERT_EQ(Sim({"write", "0x50", "0x00", "0x10"}).code, 0);
    EXPECT_EQ(Sim({"read", "0x50", "2"}).out, "0x41 0x42\n");
    ASSERT_EQ(Sim({"write", "0x48", "0x03", "0x50", "0x00"}).code, 0);
    EXPECT_EQ(Sim({"read", "0x48", "2"}).out, "0x50 0x00\n");
    ASSERT_EQ(Sim({"get", "0x0b", "0x20", "s"}).code, 0);
    EXPECT_EQ(Sim({"get", "0x0b"}).out, "0x07\n");               // the count byte of register 0x20
    EXPECT_EQ(Sim({"get", "0x0b", "0x22", "c"}).out, "0x04\n");  // "LION"
    ASSERT_EQ(Sim({"write", "0x0b", "0x22", "0x00", "0x5b"}).code, 0);  // count 0, its PEC
    EXPECT_EQ(Sim({"get", "0x0b", "0x22", "c"}).out, "0x00\n");
}

// A state file that is cut short, damaged or hostile stops the run with the
// file's name and what is wrong, and is left as it was: nothing of it is taken.
TEST_F(ToolTest, ADamagedStateFileIsReportedWholeAndResetRecovers) {
    ASSERT_EQ(Sim({"list"}).code, 0);
    const std::string good = ReadFile(state);
    const auto edited = [&](const std::function<void(nlohmann::json&)>& edit) {
        nlohmann::json file = nlohmann::json::parse(good);
        edit(file);
        return file.dump();
    };
    const std::string chip = nlohmann::json::parse(good)["chip"];
    struct Row {
        std::string contents;
        std::string why;
    };
    const Row rows[] = {
        {"{ not json", "not JSON, or cut short"},
        {good.substr(0, good.size() / 2), "not JSON, or cut short"},
        {"[1, 2]", "not a JSON object"},
        {edited([](auto& f) { f["format"] = "corvane-sim-state 2"; }), "not of the format"},
        {edited([](auto& f) { f.erase("sensor"); }), "no sensor"},
        {edited([&](auto& f) { f["chip"] = chip.substr(0, chip.size() / 2); }),
         "the chip's flash cannot be read"},
        {edited([](auto& f) { f["eeprom"] = f["eeprom"].template get<std::string>().substr(1); }),
         "the EEPROM's contents has an odd number of digits"},
        {edited([](auto& f) { f["eeprom"] = std::string(65536, 'g'); }),
         "the EEPROM's contents is not hexadecimal"},
        {edited([](auto& f) { f["eeprom"] = std::string(65534, 'f'); }),
         "the EEPROM's contents are 32767 bytes, not 32768"},
        {edited([](auto& f) { f["eeprom-counter"] = 32768; }),
         "the EEPROM's address counter is not a number from 0 to 32767"},
        {edited([](auto& f) { f["eeprom-counter"] = -1; }),
         "the EEPROM's address counter is not a number"},
        {edited([](auto& f) { f["smbus"]["0x20abc"] = "00"; }), "SMBus register '0x20abc'"},
        {edited([](auto& f) { f["smbus"]["32"] = "00"; }), "SMBus register '32'"},
        {edited([](auto& f) { f["smbus"]["0x23"] = std::string(512, '0'); }),
         "SMBus register 0x23 holds more than 255 bytes"},
        {edited([](auto& f) { f["smbus-pointer"] = 256; }), "the SMBus pointer"},
        {edited([](auto& f) {
             f["sensor"] = {1, 2, 3};
         }),
         "the sensor's registers is not a list of 4"},
        {edited([](auto& f) { f["sensor"][0] = 65536; }), "the sensor's registers is not a number"},
        {edited([](auto& f) { f["running"]["gp-value"][0] = 256; }), "running setting gp-value"},
        {edited([](auto& f) { f["running"]["dac-value"] = "16"; }), "running setting dac-value"},
        {edited([](auto& f) { f["running"]["dac-value"] = 32; }),
         "the chip refuses its running settings"},
        {std::string(1 << 20, ' ') + good, "larger than a state file can be"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.why);
        WriteFile(state, row.contents);
        const Outcome damaged = Sim({"list"});
        EXPECT_EQ(damaged.code, 1);
        EXPECT_NE(damaged.err.find("state file " + state.string() + " cannot be used (" + row.why),
                  std::string::npos)
            << damaged.err;
        EXPECT_NE(damaged.err.find("--sim-reset starts afresh"), std::string::npos);
        EXPECT_EQ(ReadFile(state), row.contents);
    }
    // The largest register and pointer are taken.
    WriteFile(state, edited([](auto& f) {
                  f["smbus"]["0x23"] = std::string(510, '4');
                  f["smbus-pointer"] = 255;
              }));
    EXPECT_EQ(Sim({"list"}).code, 0);
    EXPECT_EQ(Sim({"--sim-reset", "list"}).code, 0);
    EXPECT_EQ(Sim({"list"}).code, 0);
}

TEST_F(ToolTest, TheDefaultStateFileLivesUnderXdgStateHome) {
    ASSERT_EQ(Tool({"--sim", "settings", "set", "product", "Kept"}).code, 0);
    EXPECT_TRUE(fs::exists(dir / "corvane" / "sim-state.json"));
    EXPECT_NE(Tool({"--sim", "settings"}).out.find("Kept"), std::string::npos);
}

// ---- usage errors: exit code 2, nothing sent ------------------------------------------

struct UsageCase {
    std::vector<std::string> args;
    std::string message;  // part of the first line
    std::string usage;    // the usage line of the command
};

TEST_F(ToolTest, UsageErrorsExitWithTwoAndShowTheCommandsUsage) {
    WriteFile(File("big.bin"), std::string(32 * 1024 + 1, 'x'));
    WriteFile(File("empty.bin"), "");
    WriteFile(File("short-pw"), "abc");
    WriteFile(File("utf8-pw"),
              "Geheim\xe2\x82\xac"
              "1");  // Geheim€1
    WriteFile(File("pw"), "Secret12");
    const std::string pw = File("pw").string();
    const std::string big = File("big.bin").string();
    const UsageCase cases[] = {
        {{}, "which command?", "Usage: corvane [OPTIONS] COMMAND ..."},
        {{"frobnicate"}, "unknown command 'frobnicate'", "Usage: corvane [OPTIONS] COMMAND ..."},
        {{"lsit"}, "unknown command 'lsit'; did you mean 'list'?", "Usage: corvane [OPTIONS]"},
        {{"eeprom", "wirte"}, "did you mean 'write'?", "Usage: corvane eeprom COMMAND ..."},
        {{"--vid", "xyz", "list"}, "--vid must be a number", "Usage: corvane list"},
        {{"--vid", "3a7c", "list"},
         "--vid must be a number; a hexadecimal ID takes 0x (0x3a7c)",
         "Usage: corvane list"},
        {{"--pid", "65536", "list"}, "--pid must be 0 to 65535, not 65536", "Usage: corvane list"},
        {{"--sim-bridges", "9", "list"},
         "--sim-bridges must be 1 to 8, not 9",
         "Usage: corvane list"},
        {{"--path", "/dev/hidraw0", "--serial", "A", "list"},
         "--serial excludes --path",
         "Usage: corvane"},
        {{"--speed", "1000", "scan"}, "--speed must be 46333 to 4000000", "Usage: corvane scan"},
        {{"--device", "x", "list"}, "--device must be a number", "Usage: corvane list"},
        {{"--device", "-1", "list"}, "--device must be 0 to 63, not -1", "Usage: corvane list"},
        {{"--speed", "2.5G", "scan"}, "--speed must be a frequency", "Usage: corvane scan"},
        {{"--device", "0", "--serial", "A", "list"},
         "--device excludes --serial",
         "Usage: corvane"},
        {{"scan", "-r", "-q"},
         "-r excludes -q",
         "Usage: corvane scan [-y] [-r] [-q] [-a] [FIRST] [LAST]"},
        {{"scan", "0x50", "0x10"}, "FIRST must not be above LAST", "Usage: corvane scan"},
        {{"scan", "0x00", "0x10"},
         "ADDR must be a 7-bit I2C address from 0x03 to 0x77",
         "Usage: corvane scan"},
        {{"read", "0x48"}, "missing N", "Usage: corvane read ADDR N\n"},
        {{"read", "0xa0", "2"}, "as an 8-bit address byte it would be 0x50", "Usage: corvane read"},
        {{"read", "0x78", "2"}, "from 0x03 to 0x77", "Usage: corvane read"},
        {{"read", "banana", "2"}, "ADDR must be a 7-bit I2C address", "Usage: corvane read"},
        {{"read", "0x48", "0"}, "N must be 1 to 65535", "Usage: corvane read"},
        {{"read", "0x48", "65536"}, "N must be 1 to 65535", "Usage: corvane read"},
        {{"write", "0x48"}, "missing BYTE", "Usage: corvane write ADDR BYTE...\n"},
        {{"write", "0x48", "0x100"}, "BYTE must be 0 to 255", "Usage: corvane write"},
        {{"write", "0x48", "12x"}, "BYTE must be a number", "Usage: corvane write"},
        {{"smbus"}, "which command?", "Usage: corvane smbus COMMAND ..."},
        {{"smbus", "read", "0x0b"}, "missing REG", "Usage: corvane smbus read"},
        {{"smbus", "read", "0x0b", "0x100", "4"},
         "REG must be 0 to 255",
         "Usage: corvane smbus read"},
        {{"smbus", "read", "0x0b", "0x20", "33", "--pec"},
         "N must be 1 to 32",
         "Usage: corvane smbus read"},
        {{"smbus", "write", "0x0b", "0x21"}, "missing BYTE", "Usage: corvane smbus write"},
        {{"smbus", "write", "0x0b", "0x21", "4", "0x41", "0x42"},
         "the count byte says 4, but 2 data bytes follow",
         "Usage: corvane smbus write"},
        {{"smbus", "write", "0x0b", "0x21", "0x41", "0x42", "0x43"},
         "add --add-count to have it computed",
         "Usage: corvane smbus write"},
        {{"get", "0x48", "0", "x"},
         "MODE must be b, w, c, s or i (p appended for PEC), not 'x'",
         "Usage: corvane get [-y] [-f] [-a] [--pec] ADDR [REG] [MODE] [N]\n"},
        {{"get", "0x48", "0", "b", "4"}, "N goes with mode i", "Usage: corvane get"},
        {{"get", "0x48", "0", "i", "33"}, "N must be 1 to 32", "Usage: corvane get"},
        {{"get", "0x48", "0", "i", "--pec"}, "mode i) carry no PEC", "Usage: corvane get"},
        {{"get", "0x02"},
         "ADDR must be a 7-bit I2C address from 0x03 to 0x77 (0x00 to 0x7f with -a)",
         "Usage: corvane get"},
        {{"get", "-a", "0x80"}, "ADDR 0x80 is not a 7-bit I2C address", "Usage: corvane get"},
        {{"set", "0x48"},
         "missing REG",
         "Usage: corvane set [-y] [-m MASK] [-r] [--pec] ADDR REG [VALUE...]\n"},
        {{"set", "0x48", "1", "2", "3"}, "several VALUEs need mode s or i", "Usage: corvane set"},
        {{"set", "0x48", "1", "w"}, "mode w needs a VALUE", "Usage: corvane set"},
        {{"set", "0x48", "1", "0x10000", "w"}, "VALUE must be 0 to 65535", "Usage: corvane set"},
        {{"set", "-m", "0", "0x48", "1", "2"}, "MASK must be 1 to 255", "Usage: corvane set"},
        {{"set", "-m", "0x100", "0x48", "1", "2"}, "MASK must be 1 to 255", "Usage: corvane set"},
        {{"set", "-m", "0x10000", "0x48", "1", "2", "w"},
         "MASK must be 1 to 65535",
         "Usage: corvane set"},
        {{"set", "-m", "1", "0x48", "1", "2", "s"},
         "-m goes with modes b and w",
         "Usage: corvane set"},
        {{"set", "-r", "0x48", "1", "2", "i"},
         "-r reads back modes b, w and c",
         "Usage: corvane set"},
        {{"dump", "0x48", "q"}, "MODE must be b, w, W, s, i or c", "Usage: corvane dump"},
        // i2cdump's positions: the third is a mode, not FIRST.
        {{"dump", "0x48", "0x00", "0x1f"},
         "MODE must be b, w, W, s, i or c (p appended for PEC), not '0x00'",
         "Usage: corvane dump [-y] [-a] [-r FIRST-LAST] [--pec] ADDR [MODE] [BANK] [BANKREG]\n"},
        {{"dump", "0x48", "b", "16"}, "BANK must be 0 to 15", "Usage: corvane dump"},
        {{"dump", "0x48", "b", "1", "0x100"}, "BANKREG must be 0 to 255", "Usage: corvane dump"},
        {{"dump", "0x0b", "s", "0x20", "0x30"},
         "mode s takes its block's register as BANK, and no BANKREG",
         "Usage: corvane dump"},
        {{"dump", "0x48", "-r", "0x10"}, "-r takes FIRST-LAST", "Usage: corvane dump"},
        {{"dump", "0x48", "-r", "0x20-0x10"},
         "FIRST must not be above LAST",
         "Usage: corvane dump"},
        {{"dump", "0x48", "-r", "0x10-0x100"}, "LAST must be 0 to 255", "Usage: corvane dump"},
        {{"dump", "0x0b", "s", "-r", "0-1"},
         "mode s reads one block: no -r",
         "Usage: corvane dump"},
        {{"dump", "0x48", "W", "-r", "1-4"},
         "mode W reads words at even registers: FIRST even, LAST odd",
         "Usage: corvane dump"},
        {{"dump", "0x48", "W", "-r", "0-4"}, "mode W reads words", "Usage: corvane dump"},
        {{"transfer", "w2@0x50", "0x01"},
         "w2@0x50 wants 2 data bytes, 1 given",
         "Usage: corvane transfer [-v] [-y] [-f] [-a] MESSAGE...\n"},
        {{"transfer", "r1@0x78"},
         "from 0x03 to 0x77 (0x00 to 0x7f with -a)",
         "Usage: corvane transfer"},
        {{"transfer", "r2"}, "'r2' needs an address", "Usage: corvane transfer"},
        {{"transfer", "w1@0x50", "0", "0x41"},
         "'0x41' is not a message",
         "Usage: corvane transfer"},
        {{"eeprom", "read", "0x50"}, "missing SIZE", "Usage: corvane eeprom read"},
        {{"eeprom", "read", "0x50", "65K"},
         "SIZE must be 1 to 65536 bytes",
         "Usage: corvane eeprom read"},
        {{"eeprom", "read", "0x50", "lots"},
         "SIZE must be a byte count",
         "Usage: corvane eeprom read"},
        {{"eeprom", "read", "0x77", "2K"},
         "would reach past address 0x77",
         "Usage: corvane eeprom read"},
        {{"eeprom", "write", "0x50"}, "missing --input", "Usage: corvane eeprom write"},
        {{"eeprom", "write", "0x50", "-i", File("pw").string(), "--offset", "0x7ffc"},
         "from 0x7ffc (--offset) on, the EEPROM's 32768 bytes (--size) leave room for 4",
         "Usage: corvane eeprom write"},
        {{"eeprom", "read", "0x50", "2K", "--offset", "0x800"},
         "--offset must be 0 to 2047 bytes",
         "Usage: corvane eeprom read"},
        {{"eeprom", "read", "0x50", "32K", "--offset", "0x7ff0", "--length", "17"},
         "--length must be 1 to 16 bytes",
         "Usage: corvane eeprom read"},
        {{"eeprom", "write", "0x50", "-i", big},
         "more than the EEPROM's 32768 (--size)",
         "Usage: corvane eeprom write"},
        {{"eeprom", "write", "0x50", "-i", big, "--size", "64K", "--page", "48"},
         "--page must be a power of two",
         "Usage: corvane eeprom write"},
        {{"eeprom", "write", "0x50", "-i", File("empty.bin").string()},
         "is empty",
         "Usage: corvane eeprom write"},
        {{"gpio", "get", "4"}, "PIN must be 0 to 3", "Usage: corvane gpio get"},
        {{"gpio", "set", "0", "2"}, "the level must be 0 or 1", "Usage: corvane gpio set"},
        {{"gpio", "config", "--gp0", "pwm"},
         "GP0 function must be one of gpio-in, gpio-out-0, gpio-out-1, dedicated, not 'pwm'",
         "Usage: corvane gpio config"},
        // Each function where the pin has it: ADC from GP1, DAC from GP2, clock-irq on GP1.
        {{"gpio", "config", "--gp0", "adc"},
         "GP0 has no adc function; it has gpio-in, gpio-out-0, gpio-out-1, dedicated",
         "Usage: corvane gpio config"},
        {{"gpio", "config", "--gp1", "dac"},
         "GP1 has no dac function; it has gpio-in, gpio-out-0, gpio-out-1, dedicated, adc, "
         "clock-irq",
         "Usage: corvane gpio config"},
        {{"settings", "set", "gp2", "clock-irq", "--both"},
         "GP2 has no clock-irq function; it has gpio-in, gpio-out-0, gpio-out-1, dedicated, adc, "
         "dac",
         "Usage: corvane settings set"},
        {{"gpio", "config", "--both"}, "--both goes with a change", "Usage: corvane gpio config"},
        {{"gpio", "config", "--gp0", "adc", "--current", "--power-up"},
         "give only one of",
         "Usage: corvane gpio config"},
        {{"adc", "--vdd", "9"},
         "--vdd must be 1 to 6 V, not 9",
         "Usage: corvane adc [--vdd VOLTS]"},
        {{"adc", "--vdd", "3,3"}, "--vdd must be a voltage such as 3.3", "Usage: corvane adc"},
        {{"dac", "32"}, "VALUE must be 0 to 31", "Usage: corvane dac"},
        {{"dac", "--vref", "5v"},
         "--vref must be vdd, 1.024, 2.048 or 4.096",
         "Usage: corvane dac"},
        {{"interrupt"}, "which command?", "Usage: corvane interrupt"},
        {{"clock", "3"}, "give both DIVIDER and DUTY", "Usage: corvane clock"},
        {{"clock", "8", "0"}, "DIVIDER must be 1 to 7", "Usage: corvane clock"},
        {{"clock", "1", "4"}, "DUTY must be 0 to 3", "Usage: corvane clock"},
        {{"clock", "--both"}, "go with DIVIDER and DUTY", "Usage: corvane clock"},
        // Checked before the password of --password-file is presented.
        {{"--password-file", pw, "clock", "8", "0"},
         "DIVIDER must be 1 to 7",
         "Usage: corvane clock"},
        {{"--password-file", pw, "gpio", "config", "--gp0", "pwm"},
         "GP0 function",
         "Usage: corvane gpio config"},
        {{"--password-file", pw, "settings", "set", "dac-value", "32"},
         "dac-value must be 0 to 31",
         "Usage: corvane settings set"},
        {{"settings", "set", "colour", "red"},
         "there is no setting 'colour'",
         "Usage: corvane settings set"},
        {{"settings", "set", "vid"}, "missing VALUE", "Usage: corvane settings set"},
        {{"settings", "set", "vid", "1234", "--current"},
         "vid is a power-up setting only",
         "Usage: corvane settings set"},
        {{"settings", "set", "dac-value", "3", "--power-up"},
         "dac-value is a running setting only",
         "Usage: corvane settings set"},
        {{"settings", "set", "current-ma", "101"},
         "current-ma must be even",
         "Usage: corvane settings set"},
        {{"settings", "set", "current-ma", "600"},
         "current-ma must be 100 to 500",
         "Usage: corvane settings set"},
        {{"settings", "set", "power-source", "solar"},
         "power-source must be bus or self",
         "Usage: corvane settings set"},
        {{"settings", "set", "remote-wakeup", "maybe"},
         "remote-wakeup must be on or off",
         "Usage: corvane settings set"},
        {{"settings", "set", "serial", std::string(31, 'S')},
         "serial holds at most 30 UTF-16 code units",
         "Usage: corvane settings set"},
        {{"settings", "set", "product", "caf\xe9"},
         "product must be valid UTF-8 text",
         "Usage: corvane settings set"},
        {{"settings", "set", "flash-protection", "off"},
         "flash-protection cannot be set here",
         "Usage: corvane settings set"},
        {{"settings", "set", "interrupt-mode", "off"},
         "the interrupt mode must be none, rising, falling or both",
         "Usage: corvane settings set"},
        {{"settings", "set", "product", "two\nlines"},
         "product must not hold control characters (U+000A at 4)",
         "Usage: corvane settings set"},
        {{"settings", "set", "pid", "0469"},  // a leading 0 is octal, as everywhere
         "pid must be a number",
         "Usage: corvane settings set"},
        {{"password"}, "which command?", "Usage: corvane password"},
        {{"password", "enter"}, "there is no terminal to ask on", "Usage: corvane password enter"},
        {{"--password-file", File("short-pw").string(), "password", "enter"},
         "the password must be 8 bytes (the chip counts bytes), not 3",
         "Usage: corvane password enter"},
        {{"--password-file", File("utf8-pw").string(), "password", "enter"},
         "the password must be 8 bytes (the chip counts bytes); this one is 10 bytes in UTF-8 (8 "
         "characters)",
         "Usage: corvane password enter"},
        {{"completion", "tcsh"}, "SHELL: tcsh not in {bash,zsh,fish}", "Usage: corvane completion"},
        {{"program", "settings.json", "--serial-pattern", "CVS"},
         "--serial-pattern must hold one field for the number",
         "Usage: corvane program"},
        {{"program", "settings.json", "--serial-pattern", "A{:6}"},
         "--serial-pattern must hold one field",
         "Usage: corvane program"},
        {{"--serial", "CVS000001", "program", "settings.json"},
         "--device, --serial and --path do not go with it",
         "Usage: corvane program"},
        {{"eeprom", "fill", "0x50", "0x100"},
         "BYTE must be 0 to 255",
         "Usage: corvane eeprom fill"},
        {{"gpio", "watch", "--interval", "9"},
         "--interval must be 10 to 3600000",
         "Usage: corvane gpio watch"},
        {{"password", "lock"}, "cannot be undone", "Usage: corvane password lock"},
        {{"list", "extra"}, "unexpected argument 'extra'", "Usage: corvane list\n"},
        {{"settings", "get", "colour"},
         "there is no setting 'colour'",
         "Usage: corvane settings get"},
        {{"settings", "get", "dac-value", "--power-up"},
         "dac-value has no power-up copy",
         "Usage: corvane settings get"},
    };
    for (const UsageCase& c : cases) {
#if defined(_WIN32)
        // A Windows command line is UTF-16: it cannot carry bytes that are not UTF-8.
        if (c.message.find("valid UTF-8") != std::string::npos) continue;
#endif
        std::vector<std::string> args{"--trace"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const Outcome run = Sim(args);
        const std::string what = c.args.empty() ? "(none)" : c.args.back();
        EXPECT_EQ(run.code, 2) << what << "\n" << run.err;
        const auto lines = run.ErrLines();
        ASSERT_FALSE(lines.empty()) << what;
        EXPECT_EQ(lines[0].rfind("corvane: ", 0), 0u) << lines[0];
        EXPECT_NE(lines[0].find(c.message), std::string::npos) << lines[0];
        EXPECT_NE(run.err.find(c.usage), std::string::npos) << what << "\n" << run.err;
        // The command's usage line, not the whole help.
        EXPECT_EQ(run.err.find("OPTIONS:"), std::string::npos) << run.err;
        EXPECT_LE(lines.size(), 3u) << run.err;
        // Refused before anything was sent.
        EXPECT_EQ(run.err.find("\n> "), std::string::npos) << what;
        EXPECT_EQ(run.out, "") << what;
    }
}

TEST_F(ToolTest, HelpDescribesEveryCommand) {
    const std::vector<std::vector<std::string>> commands = {
        {},
        {"list"},
        {"scan"},
        {"read"},
        {"write"},
        {"smbus"},
        {"smbus", "read"},
        {"smbus", "write"},
        {"get"},
        {"set"},
        {"dump"},
        {"transfer"},
        {"eeprom"},
        {"eeprom", "read"},
        {"eeprom", "write"},
        {"eeprom", "verify"},
        {"eeprom", "fill"},
        {"gpio"},
        {"gpio", "get"},
        {"gpio", "set"},
        {"gpio", "config"},
        {"gpio", "watch"},
        {"adc"},
        {"adc", "watch"},
        {"dac"},
        {"interrupt"},
        {"interrupt", "get"},
        {"interrupt", "clear"},
        {"clock"},
        {"settings"},
        {"settings", "set"},
        {"settings", "get"},
        {"settings", "save"},
        {"settings", "load"},
        {"password"},
        {"password", "enter"},
        {"password", "protect"},
        {"password", "off"},
        {"password", "lock"},
        {"reset"},
        {"version"},
        {"program"},
        {"completion"},
    };
    for (const auto& command : commands) {
        std::vector<std::string> args = command;
        args.push_back("--help");
        const Outcome run = Tool(args);
        std::string path = "corvane";
        for (const std::string& word : command) path += " " + word;
        EXPECT_EQ(run.code, 0) << path;
        EXPECT_NE(run.out.find("Usage: " + path + " "), std::string::npos) << path << "\n"
                                                                           << run.out;
    }
    const Outcome top = Tool({"--help"});
    for (const char* word :
         {"list",          "scan",      "read",      "write",       "smbus",       "eeprom",
          "gpio",          "get",       "set",       "dump",        "transfer",    "adc",
          "dac",           "interrupt", "clock",     "settings",    "password",    "reset",
          "version",       "--vid",     "--pid",     "--device",    "--serial",    "--speed",
          "--json",        "--trace",   "--sim",     "--sim-state", "--sim-reset", "--path",
          "--sim-bridges", "program",   "completion"}) {
        EXPECT_NE(top.out.find(word), std::string::npos) << word;
    }
}

// ---- the bench --------------------------------------------------------------------------

TEST_F(ToolTest, EepromRoundTripThroughFiles) {
    const std::string image = RandomBytes(32 * 1024, 7);
    WriteFile(File("image.bin"), image);
    const Outcome write = Sim({"eeprom", "write", "0x50", "-i", File("image.bin").string()});
    ASSERT_EQ(write.code, 0) << write.err;
    EXPECT_EQ(
        write.out,
        "wrote 32768 bytes to the EEPROM at 0x50 in 512 page writes, read back and verified\n");
    // Another run, from the state file.
    const Outcome read = Sim({"eeprom", "read", "0x50", "32K", "-o", File("back.bin").string()});
    ASSERT_EQ(read.code, 0) << read.err;
    EXPECT_EQ(read.out,
              "read 32768 bytes from the EEPROM at 0x50 into " + File("back.bin").string() + "\n");
    EXPECT_TRUE(ReadFile(File("back.bin")) == image);
}

TEST_F(ToolTest, EepromWriteOfAPartialImageLeavesTheRestAlone) {
    const std::string part = RandomBytes(1000, 3);  // not a whole number of pages
    WriteFile(File("part.bin"), part);
    const Outcome write =
        Sim({"--json", "eeprom", "write", "0x50", "-i", File("part.bin").string(), "--page", "32"});
    ASSERT_EQ(write.code, 0) << write.err;
    const auto json = nlohmann::json::parse(write.out);
    EXPECT_EQ(json["pages"], 32);
    EXPECT_EQ(json["verified"], true);
    ASSERT_EQ(Sim({"eeprom", "read", "0x50", "32K", "-o", File("back.bin").string()}).code, 0);
    const std::string back = ReadFile(File("back.bin"));
    ASSERT_EQ(back.size(), 32768u);
    EXPECT_TRUE(back.substr(0, 1000) == part);
    EXPECT_EQ(back.find_first_not_of('\xff', 1000), std::string::npos);  // still erased
}

TEST_F(ToolTest, EepromPollsForTheAcknowledgeAfterEachPage) {
    WriteFile(File("two-pages.bin"), RandomBytes(128, 1));
    const Outcome run = Sim({"--trace", "eeprom", "write", "0x50", "-i",
                             File("two-pages.bin").string(), "--no-verify"});
    ASSERT_EQ(run.code, 0) << run.err;
    // Each page: one write of 66 bytes (two address bytes, 64 data), then a
    // zero-length write to the same address until it is acknowledged.
    const std::regex pageWrite("> 90 42 00 a0 00 (00|40)");
    const std::regex poll("> 90 00 00 a0");
    std::vector<char> order;
    for (const std::string& line : run.ErrLines()) {
        if (std::regex_search(line, pageWrite)) order.push_back('W');
        if (std::regex_search(line, poll)) order.push_back('p');
    }
    EXPECT_TRUE(std::regex_match(std::string(order.begin(), order.end()), std::regex("Wp+Wp+")));
}

TEST_F(ToolTest, EepromReadWithoutAFileIsAHexDumpWithRepeatsFolded) {
    const std::string blank =
        " ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff  |................|\n";
    EXPECT_EQ(Sim({"eeprom", "read", "0x50", "32K"}).out, "0000:" + blank + "*\n8000\n");
}

// Page writes from an offset end at each page boundary, as the page buffer
// wraps within its page; reads and the check read back start there too.
TEST_F(ToolTest, EepromAtAnOffsetSplitsItsPageWrites) {
    WriteFile(File("eight.bin"), "ABCDEFGH");
    const Outcome write = Sim({"--trace", "eeprom", "write", "0x50", "-i",
                               File("eight.bin").string(), "--offset", "0x3c"});
    ASSERT_EQ(write.code, 0) << write.err;
    EXPECT_NE(write.err.find("> 90 06 00 a0 00 3c 41 42 43 44 00"), std::string::npos);
    EXPECT_NE(write.err.find("> 90 06 00 a0 00 40 45 46 47 48 00"), std::string::npos);
    EXPECT_EQ(write.out,
              "wrote 8 bytes to the EEPROM at 0x50 from 0x003c in 2 page writes, read back and "
              "verified\n");
    const std::string blank =
        " ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff  |................|\n";
    EXPECT_EQ(Sim({"eeprom", "read", "0x50", "32K", "--offset", "0x20", "--length", "0x60"}).out,
              "0020:" + blank +
                  "0030: ff ff ff ff ff ff ff ff ff ff ff ff 41 42 43 44  |............ABCD|\n"
                  "0040: 45 46 47 48 ff ff ff ff ff ff ff ff ff ff ff ff  |EFGH............|\n"
                  "0050:" +
                  blank + "*\n0080\n");
}

TEST_F(ToolTest, SmbusBlockTransfersWithPec) {
    // The device's count byte (7) gives the length.
    const Outcome read = Sim({"smbus", "read", "0x0b", "0x20", "--pec"});
    ASSERT_EQ(read.code, 0) << read.err;
    EXPECT_EQ(read.out, "0x43 0x6f 0x72 0x76 0x61 0x6e 0x65\n");  // "Corvane"
    ASSERT_EQ(Sim({"smbus", "write", "0x0b", "0x21", "3", "0x41", "0x42", "0x43", "--pec"}).code,
              0);
    EXPECT_EQ(Sim({"smbus", "read", "0x0b", "0x21", "3", "--pec"}).out, "0x41 0x42 0x43\n");
    const Outcome computed =
        Sim({"--trace", "smbus", "write", "0x0b", "0x22", "0x44", "0x45", "--add-count"});
    ASSERT_EQ(computed.code, 0) << computed.err;
    EXPECT_NE(computed.err.find("> 90 04 00 16 22 02 44 45 00"), std::string::npos);
}

TEST_F(ToolTest, PlainTransfersReachTheTemperatureSensor) {
    EXPECT_EQ(Sim({"read", "0x48", "2"}).out, "0x17 0x80\n");           // 23.5 degrees
    ASSERT_EQ(Sim({"write", "0x48", "0x03", "0x50", "0x00"}).code, 0);  // limit 80 -> 80.0
    ASSERT_EQ(Sim({"write", "0x48", "0x03"}).code, 0);
    EXPECT_EQ(Sim({"read", "0x48", "2"}).out, "0x50 0x00\n");  // the pointer stays
    const auto json = nlohmann::json::parse(Sim({"--json", "read", "0x48", "4"}).out);
    EXPECT_EQ(json["address"], 0x48);
    EXPECT_EQ(json["data"], nlohmann::json({0x50, 0x00, 0x50, 0x00}));
}

// get, set, dump and transfer print what i2cget, i2cset, i2cdump and
// i2ctransfer print; the rows run in order on one bench.
TEST_F(ToolTest, I2cToolsCommandsPrintAsI2cToolsDo) {
    const std::string byteHeader =
        "     0  1  2  3  4  5  6  7  8  9  a  b  c  d  e  f    0123456789abcdef\n";
    std::string sensorTable = byteHeader;  // its four registers over and over
    for (const char* row : {"00", "10", "20", "30", "40", "50", "60", "70", "80", "90", "a0", "b0",
                            "c0", "d0", "e0", "f0"}) {
        sensorTable += std::string(row) +
                       ": 17 00 4b 50 17 00 4b 50 17 00 4b 50 17 00 4b 50    ?.KP?.KP?.KP?.KP\n";
    }
    struct Row {
        std::vector<std::string> args;
        std::string out;
        int exit = 0;
    };
    const Row rows[] = {
        {{"get", "0x48"}, "0x17\n"},              // receive byte: the temperature's high byte
        {{"get", "0x48", "0", "w"}, "0x8017\n"},  // SMBus words are little-endian
        {{"get", "0x48", "3"}, "0x50\n"},
        {{"get", "0x48", "1", "c"}, "0x00\n"},
        {{"get", "0x0b", "0x20", "s"}, "0x43 0x6f 0x72 0x76 0x61 0x6e 0x65\n"},
        {{"get", "0x0b", "0x20", "sp"}, "0x43 0x6f 0x72 0x76 0x61 0x6e 0x65\n"},
        {{"get", "0x48", "0", "i", "3"}, "0x17 0x80 0x17\n"},
        {{"get", "0x0b", "0x20", "bp"}, "", 1},  // the device's PEC covers its whole block
        {{"get", "0x51", "0"}, "", 1},
        {{"dump", "0x48", "-r", "0x00-0x1f"},
         byteHeader + "00: 17 00 4b 50 17 00 4b 50 17 00 4b 50 17 00 4b 50    ?.KP?.KP?.KP?.KP\n" +
             "10: 17 00 4b 50 17 00 4b 50 17 00 4b 50 17 00 4b 50    ?.KP?.KP?.KP?.KP\n"},
        {{"dump", "-y", "0x48", "b", "0x00", "0x1f"}, sensorTable},  // bank 0: all of them
        {{"dump", "0x48", "-r", "0x0e-0x11"},
         byteHeader + "00:                                           4b 50                  KP\n" +
             "10: 17 00                                              ?.              \n"},
        {{"dump", "0x48", "w", "-r", "0x06-0x09"},
         "     0,8  1,9  2,a  3,b  4,c  5,d  6,e  7,f\n"
         "00:                               004b 0050 \n"
         "08: 8017 0000                               \n"},
        {{"dump", "0x48", "W", "-r", "0x02-0x07"},  // a word at each even register, low byte first
         byteHeader + "00:       4b 00 17 80 4b 00" + std::string(28, ' ') + "  K.??K." +
             std::string(8, ' ') + "\n"},
        {{"dump", "0x48", "c", "-r", "0x01-0x04"},  // the register byte, then bytes read on
         byteHeader + "00:    00 00 00 00" + std::string(37, ' ') + " ...." + std::string(11, ' ') +
             "\n"},
        {{"dump", "0x0b", "s", "0x20"},
         byteHeader + "00: 43 6f 72 76 61 6e 65" + std::string(31, ' ') + "Corvane\n"},
        {{"dump", "0x48", "i", "-r", "0x20-0x22"},
         byteHeader + "20: 17 80 17" + std::string(43, ' ') + "???" + std::string(13, ' ') + "\n"},
        // Bank 15 through the configuration register, and its old value back.
        {{"dump", "0x48", "b", "15", "1", "-r", "0-3"},
         byteHeader + "00: 17 0f 4b 50" + std::string(40, ' ') + "??KP            \n"},
        {{"get", "-y", "-f", "0x48", "1"}, "0x00\n"},
        {{"get", "-a", "0x7f"}, "", 1},
        {{"transfer", "-y", "-f", "-a", "w1@0x00", "0"}, "", 1},
        {{"set", "0x48", "2", "0x46", "0x00", "i"}, ""},  // hysteresis 70 degrees
        {{"set", "0x48", "3", "0x0050", "w"}, ""},        // low byte first: limit 80 degrees
        {{"dump", "-y", "0x48", "-r", "0-3"},
         byteHeader + "00: 17 00 46 50" + std::string(40, ' ') + "?.FP            \n"},
        {{"set", "0x0b", "0x22", "0x41", "0x42", "s", "--pec"}, ""},
        {{"get", "0x0b", "0x22", "s", "--pec"}, "0x41 0x42\n"},
        {{"transfer", "w1@0x48", "0x00", "r2"}, "0x17 0x80\n"},
        {{"transfer", "w4@0x50", "0x01", "0x00", "0x10+"}, ""},
        {{"transfer", "w2@0x50", "0x01", "0x00", "r3"}, "0x10 0x11 0xff\n"},
        {{"transfer", "w5@0x50", "0", "0", "0p"}, ""},
        {{"transfer", "w2@0x50", "0", "0", "r4"}, "0x00 0x50 0xb0 0xff\n"},
        {{"transfer", "w4@0x50", "0", "0", "0xff-"}, ""},
        {{"transfer", "w2@0x50", "0", "0", "r3"}, "0xff 0xfe 0xb0\n"},
        {{"transfer", "-v", "w1@0x0b", "0x20", "r?"},
         "msg 0: addr 0x0b, write, len 1, buf 0x20\n"
         "msg 1: addr 0x0b, read, len 8, buf 0x07 0x43 0x6f 0x72 0x76 0x61 0x6e 0x65\n"},
        {{"transfer", "w1@0x48", "0", "w1", "1"}, "", 1},
        {{"set", "-y", "-m", "0x0f", "0x48", "1", "0xff"}, ""},  // the other bits as they were
        {{"set", "-r", "0x48", "1", "0x1f"}, "Value 0x1f written, readback matched\n"},
        {{"set", "-m", "0xf0", "-r", "0x48", "1", "0x20"},
         "Value 0x2f written, readback matched\n"},
        {{"set", "-r", "0x48", "3", "0x0050", "w"}, "Value 0x0050 written, readback matched\n"},
        // i2cset's mode c reads back a byte and compares it with REG.
        {{"set", "-r", "0x48", "3", "c"},
         "Warning - data mismatch - wrote 0x03, read back 0x50\n",
         1},
    };
    for (const Row& row : rows) {
        const Outcome run = Sim(row.args);
        std::string line;
        for (const std::string& arg : row.args) line += arg + " ";
        EXPECT_EQ(run.code, row.exit) << line << "\n" << run.err;
        EXPECT_EQ(run.out, row.out) << line;
    }
}

// A write followed by a read is one combined transfer: no STOP between them.
TEST_F(ToolTest, GetAndTransferUseARepeatedStart) {
    for (const auto& args :
         {std::vector<std::string>{"--trace", "get", "0x48", "3", "w"},
          std::vector<std::string>{"--trace", "transfer", "w1@0x48", "3", "r2"}}) {
        const Outcome run = Sim(args);
        ASSERT_EQ(run.code, 0) << run.err;
        EXPECT_NE(run.err.find("> 94 01 00 90 03"), std::string::npos) << run.err;  // no STOP
        EXPECT_NE(run.err.find("> 93 02 00 91"), std::string::npos) << run.err;  // repeated START
        EXPECT_EQ(run.err.find("> 90 "), std::string::npos) << run.err;
    }
}

TEST_F(ToolTest, ListShowsTheChipsIdentity) {
    const Outcome run = Sim({"list"});
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(run.out.substr(0, 4), "* 0 ");
    for (const char* part : {"serial number  CVS000001\n", "manufacturer   Corvane Systems\n",
                             "product        Corvane USB-I2C Bridge\n", "firmware       1.2\n",
                             "hardware       A6\n"}) {
        EXPECT_NE(run.out.find(part), std::string::npos) << part;
    }
    EXPECT_EQ(Sim({"--serial", "CVS000001", "list"}).code, 0);
}

TEST_F(ToolTest, PinCommandsDriveTheVirtualChip) {
    EXPECT_EQ(Sim({"adc"}).out,
              "ADC1 (GP1)   372  not an ADC input (GP1 is gpio-in)\n"
              "ADC2 (GP2)   775  not an ADC input (GP2 is gpio-in)\n"
              "ADC3 (GP3)   186  not an ADC input (GP3 is gpio-in)\n"
              "reference   vdd (--vdd VOLTS gives volts)\n");
    ASSERT_EQ(Sim({"gpio", "config", "--gp1", "adc"}).code, 0);
    EXPECT_EQ(Sim({"adc", "--vdd", "3.3"}).out,
              "ADC1 (GP1)   372  1.200 V\n"
              "ADC2 (GP2)   775  not an ADC input (GP2 is gpio-in)\n"
              "ADC3 (GP3)   186  not an ADC input (GP3 is gpio-in)\n"
              "reference   vdd = 3.3 V\n");
    const Outcome adc = Sim({"settings", "set", "adc-vref", "4.096"});
    ASSERT_EQ(adc.code, 0) << adc.err;
    EXPECT_EQ(Sim({"dac", "16", "--vref", "2.048"}).out, "DAC  16/32 of 2.048 V = 1.024 V\n");
    const Outcome set = Sim({"gpio", "set", "3", "1"});
    EXPECT_EQ(set.code, 0);
    EXPECT_NE(set.err.find("GP3 is an input"), std::string::npos);
    ASSERT_EQ(Sim({"gpio", "config", "--gp3", "gpio-out-1"}).code, 0);
    EXPECT_EQ(Sim({"interrupt", "clear"}).code, 0);
    const Outcome clock = Sim({"clock", "4", "2"});
    ASSERT_EQ(clock.code, 0) << clock.err;
    EXPECT_NE(clock.out.find("current   4        2 (50 %)   3 MHz"), std::string::npos)
        << clock.out;
    EXPECT_TRUE(
        std::regex_match(Sim({"version"}).out,
                         std::regex("corvane [0-9.]+\ndevice 0: firmware 1.2, hardware A6\n")));
    EXPECT_EQ(Sim({"reset"}).code, 0);
}

// ---- numbers, values and copies ------------------------------------------------------

// Every value `settings` prints is taken back by `settings set` and leaves
// the setting as it was: IDs in 0x form, none, vdd, on/off, names.
TEST_F(ToolTest, EveryValueSettingsPrintsIsTakenBack) {
    const auto before = nlohmann::json::parse(Sim({"--json", "settings"}).out);
    for (const Key& key : kKeys) {
        const std::string name = key.key;
        if (name == "flash-protection" || name == "firmware") continue;  // read-only
        // The IDs' running copies are the enumerated IDs: shown, not set.
        const bool running = key.current && name != "vid" && name != "pid";
        const char* side = running && key.powerUp ? "--both" : running ? "--current" : "--power-up";
        const auto& shown = before[name][running ? "current" : "power-up"];
        const std::string text = shown.is_string()    ? shown.get<std::string>()
                                 : shown.is_boolean() ? (shown.get<bool>() ? "on" : "off")
                                                      : shown.dump();
        const Outcome set = Sim({"settings", "set", name, text, side});
        EXPECT_EQ(set.code, 0) << name << " " << text << "\n" << set.err;
    }
    EXPECT_EQ(nlohmann::json::parse(Sim({"--json", "settings"}).out), before);
}

// One rule for every number: decimal unless 0x (or a leading 0, octal).
TEST_F(ToolTest, UsbIdsReadAsEveryOtherNumber) {
    const struct {
        const char* typed;
        const char* stored;
    } rows[] = {{"469", "0x01d5"},
                {"0x469", "0x0469"},
                {"0X1D6", "0x01d6"},
                {"0", "0x0000"},
                {"65535", "0xffff"}};
    for (const auto& row : rows) {
        ASSERT_EQ(Sim({"settings", "set", "pid", row.typed}).code, 0) << row.typed;
        EXPECT_EQ(Sim({"settings", "get", "pid", "--power-up"}).out,
                  std::string(row.stored) + "\n");
    }
    EXPECT_EQ(Sim({"--pid", "469", "list"}).out.substr(0, 4), "* 0 ");
}

// --both writes the flash first: a protected chip refuses it before the
// running copy changes. Chip settings writes wait for the password.
TEST_F(ToolTest, BothCopiesChangeOrNeitherOnAProtectedChip) {
    WriteFile(File("pw"), "Secret12");
    ASSERT_EQ(Sim({"password", "protect", "--new-password-file", File("pw").string()}).code, 0);
    const struct {
        std::vector<std::string> args;
        std::string key;
        std::string error;
    } rows[] = {
        {{"gpio", "config", "--gp1", "adc", "--both"}, "gp1", "error 3 DEVICE_STATUS"},
        {{"settings", "set", "gp2", "dac", "--both"}, "gp2", "error 3 DEVICE_STATUS"},
        {{"clock", "3", "2", "--both"}, "clock-divider", "give it with --password-file"},
        {{"settings", "set", "interrupt-mode", "rising", "--both"},
         "interrupt-mode",
         "give it with --password-file"},
    };
    const auto before = nlohmann::json::parse(Sim({"--json", "settings"}).out);
    for (const auto& row : rows) {
        const Outcome run = Sim(row.args);
        EXPECT_EQ(run.code, 1) << row.key;
        EXPECT_NE(run.err.find(row.error), std::string::npos) << run.err;
        const auto after = nlohmann::json::parse(Sim({"--json", "settings"}).out);
        EXPECT_EQ(after[row.key], before[row.key]) << row.key;
    }
    const Outcome both = Sim({"--password-file", File("pw").string(), "clock", "3", "2", "--both"});
    EXPECT_EQ(both.code, 0) << both.err;
}

// ---- files ------------------------------------------------------------------------------

// Output files are opened before the work, and only a finished result
// replaces what they hold; - is standard output and input.
TEST_F(ToolTest, FilesAreOpenedBeforeTheWorkAndDashIsTheStandardStream) {
    const Outcome missing =
        Sim({"--trace", "eeprom", "read", "0x50", "32K", "-o", File("no/such/dir").string()});
    EXPECT_EQ(missing.code, 1);
    EXPECT_EQ(missing.err.find("> "), std::string::npos) << "sent before failing";
    WriteFile(File("kept.bin"), "kept");
    EXPECT_EQ(Sim({"eeprom", "read", "0x57", "32K", "-o", File("kept.bin").string()}).code, 1);
    EXPECT_EQ(ReadFile(File("kept.bin")), "kept");
    EXPECT_EQ(Sim({"eeprom", "read", "0x57", "32K", "-o", File("new.bin").string()}).code, 1);
    EXPECT_FALSE(fs::exists(File("new.bin")));

    const std::string bytes = RandomBytes(100, 5);
    WriteFile(File("in.bin"), bytes);
    input = File("in.bin");
    ASSERT_EQ(Sim({"eeprom", "write", "0x50", "-i", "-"}).code, 0);
    const Outcome out = Sim({"eeprom", "read", "0x50", "32K", "--length", "100", "-o", "-"});
    EXPECT_EQ(out.code, 0);
    EXPECT_TRUE(out.out == bytes);
    EXPECT_FALSE(fs::exists(dir / "-"));
    input = File("in.bin");
    const Outcome verify = Sim({"eeprom", "verify", "0x50", "-i", "-"});
    EXPECT_EQ(verify.out, "the EEPROM at 0x50 holds the 100 bytes of -\n");

    const Outcome saved = Sim({"settings", "save", "-"});
    ASSERT_EQ(saved.code, 0);
    EXPECT_EQ(nlohmann::json::parse(saved.out)["format"], "corvane-settings");
    WriteFile(File("saved.json"), saved.out);
    input = File("saved.json");
    EXPECT_EQ(Sim({"settings", "load", "-"}).out, "the bridge has the file's settings already\n");
}

// ---- EEPROM verify and fill --------------------------------------------------------------

TEST_F(ToolTest, EepromFillAndVerify) {
    const Outcome fill =
        Sim({"eeprom", "fill", "0x50", "0xa5", "--offset", "0x10", "--length", "100"});
    ASSERT_EQ(fill.code, 0) << fill.err;
    EXPECT_EQ(fill.out,
              "filled 100 bytes of the EEPROM at 0x50 from 0x0010 in 2 page writes, read back "
              "and verified\n");
    std::string image(100, '\xa5');
    WriteFile(File("a5.bin"), image);
    const Outcome same = Sim(
        {"--json", "eeprom", "verify", "0x50", "-i", File("a5.bin").string(), "--offset", "16"});
    EXPECT_EQ(same.code, 0);
    EXPECT_EQ(nlohmann::json::parse(same.out)["differences"], 0);
    image[40] = '\x00';
    image[99] = '\x01';
    WriteFile(File("other.bin"), image);
    const Outcome differ = Sim({"eeprom", "verify", "0x50", "-i", File("other.bin").string(),
                                "--offset", "0x10", "--trace"});
    EXPECT_EQ(differ.code, 1);
    EXPECT_NE(differ.err.find("corvane: error: the EEPROM at 0x50 differs from " +
                              File("other.bin").string() +
                              " in 2 of 100 bytes, first at 0x0038 (0x00 in the file, 0xa5 in "
                              "the EEPROM)\n"),
              std::string::npos)
        << differ.err;
    EXPECT_EQ(differ.err.find("> 90 "), std::string::npos) << "verify wrote";
    const std::string blank =
        " ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff ff  |................|\n";
    EXPECT_EQ(Sim({"eeprom", "read", "0x50", "32K", "--length", "0x20"}).out,
              "0000:" + blank +
                  "0010: a5 a5 a5 a5 a5 a5 a5 a5 a5 a5 a5 a5 a5 a5 a5 a5  |................|\n"
                  "0020\n");
}

// ---- pins -----------------------------------------------------------------------------

TEST_F(ToolTest, WatchPrintsTimedLinesInAPipeAndOneDocumentWithJson) {
    const Outcome gpio = Sim({"gpio", "watch", "--count", "3", "--interval", "10"});
    ASSERT_EQ(gpio.code, 0) << gpio.err;
    EXPECT_TRUE(std::regex_match(
        gpio.out, std::regex("(\\d\\d:\\d\\d:\\d\\d\\.\\d{3}  GP0 1  GP1 0  GP2 0  GP3 0\n){3}")))
        << gpio.out;
    ASSERT_EQ(Sim({"gpio", "config", "--gp2", "adc"}).code, 0);
    const Outcome adc =
        Sim({"--json", "adc", "watch", "--count", "2", "--interval", "1000", "--vdd", "3.3"});
    ASSERT_EQ(adc.code, 0) << adc.err;
    const auto json = nlohmann::json::parse(adc.out);
    ASSERT_EQ(json["samples"].size(), 2u);
    EXPECT_EQ(json["samples"][1]["readings"], nlohmann::json({372, 775, 186}));
    EXPECT_EQ(json["samples"][1]["adc-input"], nlohmann::json({false, true, false}));
    EXPECT_EQ(Sim({"adc", "watch", "--count", "1"}).out.substr(12),
              "  ADC1  372 (not an input)  ADC2  775  ADC3  186 (not an input)\n");
}

TEST_F(ToolTest, InterruptGetShowsTheFlagAndTheMode) {
    EXPECT_EQ(Sim({"interrupt", "get"}).out, "interrupt flag clear (mode none)\n");
    ASSERT_EQ(Sim({"settings", "set", "interrupt-mode", "falling"}).code, 0);
    EXPECT_EQ(nlohmann::json::parse(Sim({"--json", "interrupt", "get"}).out),
              nlohmann::json({{"flag", false}, {"mode", "falling"}}));
}

// ---- several bridges ----------------------------------------------------------------------

TEST_F(ToolTest, SeveralBridgesWantAChoiceForChanges) {
    const auto sims = [&](std::vector<std::string> args) {
        args.insert(args.begin(), {"--sim-bridges", "2"});
        return Sim(args);
    };
    const Outcome write = sims({"write", "0x48", "0x00"});
    EXPECT_EQ(write.code, 1);
    EXPECT_EQ(write.err,
              "corvane: error: 2 bridges: CVS000001, CVS000002; choose with --serial (or --device "
              "N, --path PATH)\n");
    const Outcome read = sims({"read", "0x48", "2"});
    EXPECT_EQ(read.code, 0);
    EXPECT_EQ(read.err, "corvane: using bridge 0 of 2 (" + SimPath(0) +
                            ": CVS000001); choose with --serial\n");
    EXPECT_EQ(sims({"--serial", "CVS000002", "settings", "set", "product", "Second"}).code, 0);
    EXPECT_EQ(sims({"--path", SimPath(1), "settings", "get", "product"}).out, "Second\n");
    EXPECT_EQ(sims({"--device", "0", "settings", "get", "product"}).out,
              "Corvane USB-I2C Bridge\n");
    const auto list = nlohmann::json::parse(sims({"--json", "--serial", "CVS000002", "list"}).out);
    ASSERT_EQ(list["devices"].size(), 2u);
    EXPECT_EQ(list["devices"][1]["selected"], true);
    EXPECT_TRUE(fs::exists(state.string() + ".2"));
}

// ---- settings files -------------------------------------------------------------------

TEST_F(ToolTest, SettingsSaveAndLoadRoundTrip) {
    ASSERT_EQ(Sim({"settings", "save", File("saved.json").string()}).code, 0);
    const auto saved = nlohmann::json::parse(ReadFile(File("saved.json")));
    EXPECT_EQ(saved["version"], 1);
    EXPECT_EQ(saved["power-up"]["pid"], "0x01d5");
    EXPECT_FALSE(saved.contains("password"));
    const auto before = nlohmann::json::parse(Sim({"--json", "settings"}).out);

    ASSERT_EQ(Sim({"gpio", "config", "--gp1", "adc", "--both"}).code, 0);
    ASSERT_EQ(Sim({"settings", "set", "product", "Changed"}).code, 0);
    ASSERT_EQ(Sim({"dac", "9"}).code, 0);
    const auto changed = nlohmann::json::parse(Sim({"--json", "settings"}).out);
    const std::vector<std::string> load{"settings", "load", File("saved.json").string()};
    std::vector<std::string> dry = load;
    dry.push_back("--dry-run");
    const Outcome plan = Sim(dry);
    ASSERT_EQ(plan.code, 0) << plan.err;
    EXPECT_EQ(plan.out,
              "product             power-up  Changed -> Corvane USB-I2C Bridge\n"
              "gp1                 power-up  adc -> gpio-in\n"
              "gp1                 current   adc -> gpio-in\n"
              "dac-value           current   9 -> 0\n"
              "dry run: nothing written\n");
    EXPECT_EQ(nlohmann::json::parse(Sim({"--json", "settings"}).out), changed);
    const Outcome applied = Sim(load);
    ASSERT_EQ(applied.code, 0) << applied.err;
    EXPECT_NE(applied.out.find("wrote 4 settings, read back and verified\n"), std::string::npos);
    EXPECT_EQ(nlohmann::json::parse(Sim({"--json", "settings"}).out), before);
}

// A file that cannot be applied completely is refused before anything is written.
TEST_F(ToolTest, SettingsLoadRefusesWhatCannotBeAppliedCompletely) {
    ASSERT_EQ(Sim({"settings", "save", File("saved.json").string()}).code, 0);
    const auto saved = nlohmann::json::parse(ReadFile(File("saved.json")));
    const struct {
        const char* what;
        std::function<void(nlohmann::json&)> edit;
        std::string message;
    } rows[] = {
        {"format", [](auto& f) { f["format"] = "other"; },
         "the settings file is not one ('format' is not \"corvane-settings\")"},
        {"version", [](auto& f) { f["version"] = 2; },
         "the settings file has format version 2; this tool reads version 1"},
        {"key", [](auto& f) { f["power-up"]["colour"] = "red"; },
         "the settings file names no setting 'colour'"},
        {"copy", [](auto& f) { f["current"]["serial"] = "X"; },
         "the settings file sets the current copy of serial, which cannot be set"},
        {"value", [](auto& f) { f["power-up"]["gp0"] = "adc"; },
         "gives gp0 a value the chip cannot take: GP0 has no adc function"},
        {"hardware", [](auto& f) { f["hardware"] = "B1"; },
         "the file was saved from a chip of hardware revision B1; this one is A6"},
        {"protection", [](auto& f) { f["flash-protection"] = "password"; },
         "the file's flash protection is password, the bridge's off"},
        {"none", [](auto& f) { f["current"]["interrupt-mode"] = "none"; },
         "interrupt-mode none: the chip turns interrupt detection off only with a reset"},
    };
    ASSERT_EQ(Sim({"settings", "set", "interrupt-mode", "rising"}).code, 0);
    for (const auto& row : rows) {
        auto file = saved;
        file["power-up"]["product"] = "Not written";
        row.edit(file);
        WriteFile(File("edited.json"), file.dump());
        const Outcome run = Sim({"settings", "load", File("edited.json").string()});
        EXPECT_EQ(run.code, 1) << row.what;
        EXPECT_NE(run.err.find(row.message), std::string::npos) << row.what << "\n" << run.err;
    }
    EXPECT_EQ(Sim({"settings", "get", "product"}).out, "Corvane USB-I2C Bridge\n");
    ASSERT_EQ(Sim({"password", "lock", "--yes-lock-permanently"}).code, 0);
    auto file = saved;
    file["flash-protection"] = "locked";
    file["power-up"]["product"] = "Not written";
    WriteFile(File("locked.json"), file.dump());
    const Outcome locked = Sim({"settings", "load", File("locked.json").string()});
    EXPECT_EQ(locked.code, 1);
    EXPECT_NE(locked.err.find("the chip's flash is locked for good: its power-up settings cannot"),
              std::string::npos)
        << locked.err;
}

// ---- the programming station -------------------------------------------------------

TEST_F(ToolTest, ProgramGivesEachBridgeSettingsASerialAndAnImage) {
    ASSERT_EQ(Sim({"settings", "set", "product", "Station"}).code, 0);
    ASSERT_EQ(Sim({"settings", "save", File("job.json").string()}).code, 0);
    ASSERT_EQ(Sim({"--sim-reset", "list"}).code, 0);
    const std::string image = RandomBytes(300, 9);
    WriteFile(File("image.bin"), image);
    const std::string log = File("program.log").string();
    const auto program = [&](const std::string& bridges, const std::string& count) {
        return Sim({"--sim-bridges", bridges, "program", File("job.json").string(),
                    "--serial-pattern", "T{:04d}", "--start", "7", "--eeprom",
                    File("image.bin").string(), "--count", count, "--log", log});
    };
    const Outcome first = program("3", "3");
    ASSERT_EQ(first.code, 0) << first.err;
    EXPECT_EQ(first.out, "T0007  " + SimPath(0) +
                             ": 2 settings written, EEPROM 300 bytes, verified, reset\n"
                             "T0008  " +
                             SimPath(1) +
                             ": 2 settings written, EEPROM 300 bytes, verified, reset\n"
                             "T0009  " +
                             SimPath(2) +
                             ": 2 settings written, EEPROM 300 bytes, verified, reset\n"
                             "programmed 3 bridges (log: " +
                             log + ")\n");
    // A station started again goes on with the next bridge and the next number.
    const Outcome again = program("4", "1");
    ASSERT_EQ(again.code, 0) << again.err;
    EXPECT_NE(again.out.find(SimPath(2) + "  T0009: in the log as programmed, left alone\nT0010  " +
                             SimPath(3)),
              std::string::npos)
        << again.out;
    EXPECT_TRUE(std::regex_match(
        ReadFile(File("program.log")),
        std::regex("(T00(07|08|09|10)\t\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ\tok\n){4}")));
    const auto list = nlohmann::json::parse(Sim({"--sim-bridges", "4", "--json", "list"}).out);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(list["devices"][i]["serial"], (i < 3 ? "T000" : "T00") + std::to_string(7 + i));
        EXPECT_EQ(list["devices"][i]["product"], "Station");
    }
    WriteFile(File("back.bin"), image);
    EXPECT_EQ(Sim({"--sim-bridges", "4", "--serial", "T0010", "eeprom", "verify", "0x50", "-i",
                   File("back.bin").string()})
                  .code,
              0);
    // A bridge that cannot take the settings stops the station, named and logged.
    ASSERT_EQ(
        Sim({"--sim-bridges", "5", "--device", "4", "password", "lock", "--yes-lock-permanently"})
            .code,
        0);
    const Outcome failed = program("5", "1");
    EXPECT_EQ(failed.code, 1);
    EXPECT_NE(failed.err.find("corvane: error: bridge " + SimPath(4) +
                              " (CVS000005): the settings cannot be loaded completely, nothing "
                              "was written"),
              std::string::npos)
        << failed.err;
    EXPECT_NE(ReadFile(File("program.log")).find("T0011\t"), std::string::npos);
    EXPECT_NE(ReadFile(File("program.log")).find("\tfailed: "), std::string::npos);
}

// ---- the shells -----------------------------------------------------------------------------

#if !defined(_WIN32)
// The completion scripts run in each shell: values of options, setting names
// and their values, file names after file options.
TEST_F(ToolTest, CompletionOffersCommandsValuesAndFiles) {
    WriteFile(File("image.bin"), "x");
    for (const char* shell : {"bash", "zsh", "fish"}) {
        WriteFile(File(std::string("completion.") + shell), Tool({"completion", shell}).out);
    }
    const std::string files = File("ima").string();
    const struct {
        std::vector<std::string> words;  // after "corvane", the last one being completed
        std::vector<std::string> offered;
    } rows[] = {
        {{"--pacing", ""}, {"bus-time", "fixed"}},
        {{"gpio", "config", "--gp1", "c"}, {"clock-irq"}},
        {{"settings", "set", "inter"}, {"interrupt-mode"}},
        {{"settings", "set", "adc-vref", "4"}, {"4.096"}},
        {{"eeprom", "read", "0x50", "32K", "-o", files}, {File("image.bin").string()}},
        {{"settings", "load", files}, {File("image.bin").string()}},
        {{"eep"}, {"eeprom"}},
        {{"eeprom", "ver"}, {"verify"}},
    };
    const auto quote = [](std::vector<std::string> words) {
        std::string text;
        for (std::string& word : words) text += " '" + word + "'";
        return text;
    };
    for (const auto& row : rows) {
        std::vector<std::string> words{"corvane"};
        words.insert(words.end(), row.words.begin(), row.words.end());
        const std::string n = std::to_string(words.size() - 1);
        std::string expected;
        for (const std::string& word : row.offered) expected += word + "\n";
        const std::string bash = "source " + File("completion.bash").string() + "; COMP_WORDS=(" +
                                 quote(words) + "); COMP_CWORD=" + n +
                                 "; _corvane; printf '%s\\n' \"${COMPREPLY[@]}\" | sort";
        const std::string zsh =
            "compadd() { [[ $1 == -a ]] && print -l -- ${(P)2} }; _files() { "
            "print -l -- $cur* }; source " +
            File("completion.zsh").string() + " >/dev/null; words=(" + quote(words) +
            "); CURRENT=" + std::to_string(words.size()) + "; cur='" + words.back() +
            "'; _corvane | grep -- \"^$cur\" | sort";
        std::string line;
        for (std::size_t i = 0; i + 1 < words.size(); ++i) line += words[i] + " ";
        const std::string fish = "source " + File("completion.fish").string() + "; complete -C '" +
                                 line + words.back() + "' | cut -f1 | sort";
        for (const auto& [shell, script] :
             {std::pair{"bash", bash}, {"zsh", zsh}, {"fish", fish}}) {
            const Outcome run = Program(shell, {"-c", script});
            EXPECT_EQ(run.code, 0) << shell << " (Debian package " << shell << ")";
            EXPECT_EQ(run.out, expected) << shell << ":" << quote(row.words) << "\n" << run.err;
        }
    }
}
#endif

// The other programs read their command lines as the tool does: exit 2 for
// a wrong one, --version; their help and man page name the same signals.
TEST_F(ToolTest, TheOtherProgramsExitWithTwoForUsageAndListTheirSignals) {
    struct OtherProgram {
        const char* path;
        const char* manPage;
    };
    std::vector<OtherProgram> programs;
#if defined(CORVANE_I2CDEV)
    programs.push_back({CORVANE_I2CDEV, CORVANE_I2CDEV_MAN});
#endif
#if defined(CORVANE_VIRTUAL_BRIDGE)
    programs.push_back({CORVANE_VIRTUAL_BRIDGE, CORVANE_VIRTUAL_BRIDGE_MAN});
#endif
    const auto signals = [](const std::string& text) {
        std::set<std::string> found;
        const std::regex name("SIG[A-Z]+");
        for (auto it = std::sregex_iterator(text.begin(), text.end(), name);
             it != std::sregex_iterator(); ++it) {
            found.insert(it->str());
        }
        return found;
    };
    for (const OtherProgram& program : programs) {
        const std::string name = fs::path(program.path).filename().string();
        EXPECT_EQ(Program(program.path, {"--bogus"}).code, 2) << name;
        EXPECT_EQ(Program(program.path, {"--sim-state"}).code, 2) << name;
        const Outcome version = Program(program.path, {"--version"});
        EXPECT_EQ(version.code, 0);
        EXPECT_EQ(version.out.rfind(name + " ", 0), 0u) << version.out;
        const auto help = signals(Program(program.path, {"--help"}).out);
        EXPECT_FALSE(help.empty()) << name;
        EXPECT_EQ(help, signals(ReadFile(program.manPage))) << name;
    }
#if defined(__linux__)
    EXPECT_EQ(programs.size(), 2u);
#endif
}

}  // namespace
