// brevan against the fake transports. Each folder arrangement runs fake_driver in a child
// process of its own, so a fake and a real transport of the same name never meet in a process.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "suite_paths.h"

namespace {

std::string TestFolder() {
    char name[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, name, MAX_PATH);
    std::string path(name, length);
    return path.substr(0, path.find_last_of('\\'));
}

std::string FakesDir() {
    return TestFolder() + "\\brevan_fakes";
}

void RemoveTree(const std::string &folder) {
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::string name = entry.cFileName;
            if (name == "." || name == "..")
                continue;
            std::string path = folder + "\\" + name;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(path);
            else
                DeleteFileA(path.c_str());
        } while (FindNextFileA(find, &entry));
        FindClose(find);
    }
    RemoveDirectoryA(folder.c_str());
}

enum class File { kDriver, kBrevan, kTessyn, kDorvik, kDorvikNoCancel };

std::string Source(File file) {
    switch (file) {
    case File::kDriver:
        return FakesDir() + "\\fake_driver.exe";
    case File::kBrevan:
        return suite::BinPath("brevan.dll");
    case File::kTessyn:
        return FakesDir() + "\\tessyn.dll";
    case File::kDorvik:
        return FakesDir() + "\\dorvik.dll";
    case File::kDorvikNoCancel:
        return FakesDir() + "\\nocancel\\dorvik.dll";
    }
    return {};
}

std::string FileName(File file) {
    std::string path = Source(file);
    return path.substr(path.find_last_of('\\') + 1);
}

// A folder arrangement: the driver at the root, the other files in folders below it.
class Arrangement {
  public:
    explicit Arrangement(const std::string &name)
        : root_(suite::TestDataDir() + "\\brevan_fakes_" + std::to_string(sizeof(void *) * 8) +
                "_" + name) {
        RemoveTree(root_);
        CreateDirectoryA(root_.c_str(), nullptr);
        Put(File::kDriver, "");
    }
    ~Arrangement() { RemoveTree(root_); }

    const std::string &Root() const { return root_; }

    // Copies file into the folder sub of the root ("" for the root itself).
    void Put(File file, const std::string &sub) {
        std::string folder = Folder(sub);
        std::string target = folder + "\\" + FileName(file);
        ASSERT_TRUE(CopyFileA(Source(file).c_str(), target.c_str(), FALSE))
            << Source(file) << " -> " << target << ": " << GetLastError();
    }

    std::string Folder(const std::string &sub) {
        if (sub.empty())
            return root_;
        std::string path = root_;
        std::stringstream parts(sub);
        std::string part;
        while (std::getline(parts, part, '\\')) {
            path += "\\" + part;
            CreateDirectoryA(path.c_str(), nullptr);
        }
        return path;
    }

    // Runs the driver with brevan from the folder sub; its exit code, and its output in *output.
    DWORD Run(const std::string &brevanSub, const std::string &arguments, std::string *output) {
        const std::string outPath = root_ + "\\out.txt";
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        HANDLE out = CreateFileA(outPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                 CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = out;
        startup.hStdError = out;
        std::string command = "\"" + root_ + "\\fake_driver.exe\" \"" + Folder(brevanSub) +
                              "\\brevan.dll\" \"" + root_ + "\\calls.log\" " + arguments;
        // The child searches no folder of the build's real transports.
        char savedPath[32768];
        DWORD saved = GetEnvironmentVariableA("PATH", savedPath, sizeof savedPath);
        SetEnvironmentVariableA("PATH", "C:\\windows\\system32;C:\\windows");
        PROCESS_INFORMATION process{};
        BOOL started = CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                      root_.c_str(), &startup, &process);
        SetEnvironmentVariableA("PATH", saved && saved < sizeof savedPath ? savedPath : nullptr);
        CloseHandle(out);
        if (!started) {
            *output = "cannot start " + command;
            return 1000;
        }
        DWORD code = 1001;
        if (WaitForSingleObject(process.hProcess, 120000) != WAIT_OBJECT_0) {
            TerminateProcess(process.hProcess, 1002);
            WaitForSingleObject(process.hProcess, 10000);
        }
        GetExitCodeProcess(process.hProcess, &code);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        std::ifstream in(outPath);
        std::stringstream text;
        text << in.rdbuf();
        *output = command + "\n" + text.str();
        return code;
    }

  private:
    std::string root_;
};

TEST(BrevanFakes, TablesSessionsStatusPollAndFaults) {
    Arrangement a("standard");
    for (File f : {File::kBrevan, File::kTessyn, File::kDorvik})
        a.Put(f, "");
    std::string output;
    EXPECT_EQ(a.Run("", "standard", &output), 0u) << output;
}

TEST(BrevanFakes, TransportsBesideBrevanWinOverThoseBesideTheProgram) {
    Arrangement a("own_folder");
    for (File f : {File::kTessyn, File::kDorvik})
        a.Put(f, "");
    for (File f : {File::kBrevan, File::kTessyn, File::kDorvik})
        a.Put(f, "lib");
    std::string output;
    EXPECT_EQ(a.Run("lib", "loaded-from \"" + a.Root() + "\\lib\"", &output), 0u) << output;
}

TEST(BrevanFakes, BareNamesFindTransportsBesideTheProgram) {
    Arrangement a("bare_names");
    for (File f : {File::kTessyn, File::kDorvik})
        a.Put(f, "");
    a.Put(File::kBrevan, "lib");
    std::string output;
    EXPECT_EQ(a.Run("lib", "loaded-from \"" + a.Root() + "\"", &output), 0u) << output;
}

// Each loader failure leaves neither transport loaded and no session listed.
TEST(BrevanFakes, LoaderFailures) {
    struct Case {
        const char *name;
        std::vector<File> files;
        const char *result;
    } cases[] = {
        {"no_tessyn", {File::kBrevan, File::kDorvik}, "-1"},
        {"no_dorvik", {File::kBrevan, File::kTessyn}, "-2"},
        {"no_cancel", {File::kBrevan, File::kTessyn, File::kDorvikNoCancel}, "-3"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Arrangement a(c.name);
        for (File f : c.files)
            a.Put(f, "");
        std::string output;
        EXPECT_EQ(a.Run("", std::string("fails ") + c.result, &output), 0u) << output;
    }
}

// brevan's own file name does not fit the 256-byte buffer: -1, with the transports beside it.
TEST(BrevanFakes, ModuleNameTooLongForItsBuffer) {
    Arrangement a("deep");
    const size_t rootLength = a.Root().size();
    const size_t want = 258 - std::string("\\brevan.dll").size(); // the folder's length
    ASSERT_LT(rootLength + 2, want);
    std::string sub;
    size_t length = rootLength;
    while (length < want) {
        // Each level adds a backslash and its name; none may leave a single byte to fill.
        const size_t left = want - length;
        size_t part = std::min<size_t>(left - 1, 60);
        if (left - (part + 1) == 1)
            --part;
        std::string name(part, 'd');
        sub += (sub.empty() ? "" : "\\") + name;
        length += part + 1;
    }
    ASSERT_EQ(a.Folder(sub).size() + std::string("\\brevan.dll").size(), 258u);
    for (File f : {File::kBrevan, File::kTessyn, File::kDorvik})
        a.Put(f, sub);
    std::string output;
    EXPECT_EQ(a.Run(sub, "fails -1", &output), 0u) << output;
}

} // namespace
