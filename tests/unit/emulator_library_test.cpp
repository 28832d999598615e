// The emulated PC's shared access library, loaded from the built file as a program loads it.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <dlfcn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "emulator/machine_file.h"
#include "pci/controller_ids.h"
#include "pci/vlmio.h"
#include "tests/unit/emulator_test_util.h"

#ifdef VLMIO_EMULATOR_LIBRARY

namespace {

using LoadFn = uint32_t (*)();
using UnloadFn = void (*)();
using ReadFn = uint32_t (*)(uint32_t, uint32_t, uint32_t, uint32_t);
using WriteFn = void (*)(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t);

// The library opened from a path, with its entries.
class Library {
public:
    explicit Library(const std::string& path) {
        m_handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (m_handle == nullptr) return;
        load = Entry<LoadFn>(VLMIO_ENTRY_LOAD);
        unload = Entry<UnloadFn>(VLMIO_ENTRY_UNLOAD);
        readByte = Entry<ReadFn>(VLMIO_ENTRY_READ_BYTE);
        readDword = Entry<ReadFn>(VLMIO_ENTRY_READ_DWORD);
        writeByte = Entry<WriteFn>(VLMIO_ENTRY_WRITE_BYTE);
        writeDword = Entry<WriteFn>(VLMIO_ENTRY_WRITE_DWORD);
        isEmulated = Entry<LoadFn>(VLMIO_ENTRY_IS_EMULATED);
    }
    ~Library() {
        if (m_handle != nullptr) dlclose(m_handle);
    }
    bool Complete() const {
        return m_handle != nullptr && load && unload && readByte && readDword && writeByte &&
               writeDword && isEmulated;
    }
    void* Handle() const { return m_handle; }

    LoadFn load = nullptr;
    UnloadFn unload = nullptr;
    ReadFn readByte = nullptr;
    ReadFn readDword = nullptr;
    WriteFn writeByte = nullptr;
    WriteFn writeDword = nullptr;
    LoadFn isEmulated = nullptr;

private:
    template <typename T>
    T Entry(const char* name) {
        return reinterpret_cast<T>(dlsym(m_handle, name));
    }
    void* m_handle = nullptr;
};

// Sends write enable and chip erase, through the bridge, to the chip of the controller at
// bus:00.0.
void EraseChip(const Library& lib, uint32_t bus) {
    for (uint32_t opcode : {0x06u, 0x60u}) {
        lib.writeDword(bus, 0, 0, 0xF0, opcode);
        lib.writeByte(bus, 0, 0, 0xF4, 0x29);
        lib.writeByte(bus, 0, 0, 0xF4, 0x10);
    }
}

TEST(EmulatorLibrary, ExportsTheEntriesAndRunsTheMachineFile) {
    emu_test::TempDir dir;
    std::string conf = dir.File("pc.conf");
    std::string log = dir.File("access.log");
    std::string violations = dir.File("violations.log");
    emu_test::WriteText(conf, "controller 02:00.0 part=0 member=2 timing=instant flash=f.bin\n");
    ASSERT_EQ(setenv("VLMIO_EMULATOR", conf.c_str(), 1), 0);
    ASSERT_EQ(setenv("VLMIO_EMULATOR_LOG", log.c_str(), 1), 0);
    ASSERT_EQ(setenv("VLMIO_EMULATOR_VIOLATIONS", violations.c_str(), 1), 0);
    {
        Library lib(VLMIO_EMULATOR_LIBRARY);
        ASSERT_TRUE(lib.Complete()) << dlerror();
        EXPECT_EQ(lib.isEmulated(), 1u);
        lib.unload();  // nothing loaded: harmless
        EXPECT_EQ(lib.readDword(2, 0, 0, 0), 0xFFFFFFFFu);
        ASSERT_EQ(lib.load(), 1u);
        EXPECT_EQ(lib.readDword(2, 0, 0, 0), ControllerIdKey(g_ControllerIds[1]));
        lib.writeDword(2, 0, 0, 0xF0, 0x06);
        lib.writeByte(2, 0, 0, 0xF4, 0x29);
        lib.writeByte(2, 0, 0, 0xF4, 0x10);
        lib.writeDword(2, 0, 0, 0xF0, 0x05);
        lib.writeByte(2, 0, 0, 0xF4, 0x29);
        lib.writeByte(2, 0, 0, 0xF4, 0x21);
        EXPECT_EQ(lib.readByte(2, 0, 0, 0xF0), 0x02u);  // the latch is set
        // ... read as a byte, which the host never should: the eighth access, recorded at once.
        EXPECT_EQ(emu_test::ReadText(violations),
                  "02:00.0 access 8: register-width: read of the data register at 0xF0 as 1 "
                  "byte\n");
        lib.unload();
        EXPECT_EQ(lib.readDword(2, 0, 0, 0), 0xFFFFFFFFu);
        EXPECT_EQ(emu_test::ReadFile(dir.File("f.bin")).size(), 64u * 1024);
    }
    std::vector<uint8_t> lines = emu_test::ReadFile(log);
    std::string text(lines.begin(), lines.end());
    EXPECT_EQ(text.rfind("R 02:00.0 00 4 27011f7c\nW 02:00.0 f0 4 00000006\n", 0), 0u) << text;
    EXPECT_NE(text.find("R 02:00.0 f0 1 00000002\n"), std::string::npos);
    unsetenv("VLMIO_EMULATOR_LOG");
    unsetenv("VLMIO_EMULATOR_VIOLATIONS");
}

TEST(EmulatorLibrary, BadOrMissingMachineFileFailsTheLoad) {
    emu_test::TempDir dir;
    std::string conf = dir.File("bad.conf");
    emu_test::WriteText(conf, "controller 02:00.0 part=0\ncontroller 02:00.0 part=1\n");
    Library lib(VLMIO_EMULATOR_LIBRARY);
    ASSERT_TRUE(lib.Complete()) << dlerror();
    ASSERT_EQ(setenv("VLMIO_EMULATOR", conf.c_str(), 1), 0);
    testing::internal::CaptureStderr();
    EXPECT_EQ(lib.load(), 0u);
    int loadError = errno;
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              conf + ":2: two items at 02:00.0 (the other on line 1)\n");
    EXPECT_EQ(loadError, EINVAL);
    EXPECT_EQ(lib.readDword(2, 0, 0, 0), 0xFFFFFFFFu);

    ASSERT_EQ(setenv("VLMIO_EMULATOR", dir.File("none.conf").c_str(), 1), 0);
    testing::internal::CaptureStderr();
    EXPECT_EQ(lib.load(), 0u);
    loadError = errno;
    EXPECT_NE(testing::internal::GetCapturedStderr().find("none.conf"), std::string::npos);
    EXPECT_EQ(loadError, ENOENT);
    lib.unload();
}

// Without VLMIO_EMULATOR the library reads emulated-pc.conf from its own folder, and writes
// the flash back when the library goes away without an unload.
TEST(EmulatorLibrary, DefaultMachineFileBesideTheLibrary) {
    emu_test::TempDir dir;
    std::string copy = dir.File("libvlmio.so");
    std::filesystem::copy_file(VLMIO_EMULATOR_LIBRARY, copy);
    emu_test::WriteText(dir.File("emulated-pc.conf"),
                        "controller 07:00.0 part=0 timing=instant flash=beside.bin\n");
    unsetenv("VLMIO_EMULATOR");
    {
        Library lib(copy);
        ASSERT_TRUE(lib.Complete()) << dlerror();
        ASSERT_EQ(lib.load(), 1u);
        EXPECT_EQ(lib.readDword(7, 0, 0, 0), ControllerIdKey(g_ControllerIds[0]));
        // The flash file holds the chip from the load on.
        EXPECT_EQ(emu_test::ReadFile(dir.File("beside.bin")),
                  vlmio::emu::OldFirmwarePattern(64 * 1024));
    }
    EXPECT_EQ(emu_test::ReadFile(dir.File("beside.bin")).size(), 64u * 1024);
}

// A process that ends without unloading still leaves its flash written.
TEST(EmulatorLibrary, ProcessEndWritesTheFlashBack) {
    emu_test::TempDir dir;
    std::string conf = dir.File("pc.conf");
    emu_test::WriteText(conf, "controller 01:00.0 part=0 timing=instant flash=end.bin\n");
    ASSERT_EQ(setenv("VLMIO_EMULATOR", conf.c_str(), 1), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        Library lib(VLMIO_EMULATOR_LIBRARY);
        if (!lib.Complete() || lib.load() != 1) _exit(2);
        EraseChip(lib, 1);
        std::exit(0);  // no unload, no dlclose
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(emu_test::ReadFile(dir.File("end.bin")), std::vector<uint8_t>(64 * 1024, 0xFF));
}

// Two processes on one emulated PC: while the first has it loaded, the second's load fails,
// naming the flash file, and touches nothing; once the first has unloaded, it loads.
TEST(EmulatorLibrary, ASecondProcessCannotLoadTheSameFlashFiles) {
    emu_test::TempDir dir;
    std::string conf = dir.File("pc.conf");
    emu_test::WriteText(conf,
                        "controller 01:00.0 part=0 timing=instant flash=free.bin\n"
                        "controller 02:00.0 part=0 timing=instant flash=held.bin\n");
    ASSERT_EQ(setenv("VLMIO_EMULATOR", conf.c_str(), 1), 0);
    int loaded[2];
    int release[2];
    ASSERT_EQ(pipe(loaded), 0);
    ASSERT_EQ(pipe(release), 0);
    pid_t first = fork();
    ASSERT_GE(first, 0);
    if (first == 0) {
        Library lib(VLMIO_EMULATOR_LIBRARY);
        if (!lib.Complete() || lib.load() != 1) _exit(2);
        EraseChip(lib, 2);
        char c = 'L';
        if (write(loaded[1], &c, 1) != 1) _exit(3);
        if (read(release[0], &c, 1) != 1) _exit(4);  // held until the test has tried its load
        lib.unload();
        _exit(0);
    }
    close(loaded[1]);
    close(release[0]);
    char c = 0;
    ASSERT_EQ(read(loaded[0], &c, 1), 1);  // the first holds the emulated PC now
    const std::vector<uint8_t> held = emu_test::ReadFile(dir.File("held.bin"));
    EXPECT_EQ(held, std::vector<uint8_t>(64 * 1024, 0xFF));  // its erase, written through
    {
        Library lib(VLMIO_EMULATOR_LIBRARY);
        ASSERT_TRUE(lib.Complete()) << dlerror();
        testing::internal::CaptureStderr();
        EXPECT_EQ(lib.load(), 0u);
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  dir.File("free.bin") +
                      ": the flash file is in use by another run of the emulated PC\n");
        EXPECT_EQ(lib.readDword(1, 0, 0, 0), 0xFFFFFFFFu);
        lib.unload();
        EXPECT_EQ(emu_test::ReadFile(dir.File("held.bin")), held);
        ASSERT_EQ(write(release[1], &c, 1), 1);
        int status = 0;
        ASSERT_EQ(waitpid(first, &status, 0), first);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        EXPECT_EQ(lib.load(), 1u);
        lib.unload();
    }
    close(loaded[0]);
    close(release[1]);
}

// A flash file that could not be written back is lost flash: the library says so on standard
// error, and VlmIoFlashNotSaved answers 1 from then on, for the program to end the run as failed.
TEST(EmulatorLibrary, AFlashFileNotWrittenBackIsReportedToTheProgram) {
    emu_test::TempDir dir;
    std::string copy = dir.File("libvlmio.so");  // a library of its own: its answer is for good
    std::filesystem::copy_file(VLMIO_EMULATOR_LIBRARY, copy);
    std::string conf = dir.File("pc.conf");
    emu_test::WriteText(conf, "controller 01:00.0 part=0 timing=instant flash=f.bin\n");
    ASSERT_EQ(setenv("VLMIO_EMULATOR", conf.c_str(), 1), 0);
    Library lib(copy);
    ASSERT_TRUE(lib.Complete()) << dlerror();
    auto notSaved = reinterpret_cast<LoadFn>(dlsym(lib.Handle(), VLMIO_ENTRY_FLASH_NOT_SAVED));
    ASSERT_NE(notSaved, nullptr);
    ASSERT_EQ(lib.load(), 1u);
    lib.unload();
    EXPECT_EQ(notSaved(), 0u);
    std::filesystem::create_directory(dir.File("f.bin.tmp"));
    ASSERT_EQ(lib.load(), 1u);
    testing::internal::CaptureStderr();
    lib.unload();
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              dir.File("f.bin") + ": the flash file could not be written back (" +
                  dir.File("f.bin.tmp") + " is in the way: remove it if no run is using it)\n");
    EXPECT_EQ(notSaved(), 1u);
    EXPECT_TRUE(std::filesystem::is_directory(dir.File("f.bin.tmp")));
    std::filesystem::remove(dir.File("f.bin.tmp"));
    ASSERT_EQ(lib.load(), 1u);
    lib.unload();
    EXPECT_EQ(notSaved(), 1u);  // the earlier loss is not forgotten
}

TEST(EmulatorLibrary, ExportsNothingElse) {
    std::string command =
        std::string("nm -D --defined-only ") + VLMIO_EMULATOR_LIBRARY + " 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::vector<std::string> names;
    char line[512];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        std::string s(line);
        std::size_t space = s.find_last_of(' ');
        std::string type = s.size() > 17 ? s.substr(17, 1) : "";
        std::string name = s.substr(space + 1);
        if (!name.empty() && name.back() == '\n') name.pop_back();
        if (type == "T") names.push_back(name);
    }
    int status = pclose(pipe);
    if (names.empty() && status != 0) GTEST_SKIP() << "nm is not available";
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names,
              (std::vector<std::string>{"LoadVlmIODriver", "PCI_Read_BYTE", "PCI_Read_DWORD",
                                        "PCI_Write_Byte", "PCI_Write_DWORD", "UnloadVlmIODriver",
                                        "VlmIoFlashNotSaved", "VlmIoIsEmulated"}));
}

}  // namespace

#endif  // VLMIO_EMULATOR_LIBRARY
#endif  // _WIN32
