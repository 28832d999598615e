// The whole program run in-process on the tests' window system and an emulated PC: a temporary
// program folder with the image and the licence, and services of a scaled clock, recorded
// restart, keep-awake and event log, with scripted answers to every dialog and message box.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "app/vlm270fwupdate_app.h"
#include "console/main_dialog.h"
#include "console/update_job.h"
#include "flash/spi_protocol.h"
#include "flash/stoppable_vlmio.h"
#include "flash/update_engine.h"
#include "framework/clock.h"
#include "framework/platform.h"
#include "framework/restart_backend.h"
#include "framework/win_app.h"
#include "framework/window_system.h"
#include "res/resource_ids.h"
#include "tests/support/emulated_rig.h"
#include "tests/support/memory_event_log.h"
#include "tests/support/recording_keep_awake.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_clocks.h"
#include "tests/support/test_services.h"
#include "tests/support/test_window_system.h"
#include "util/exit_status.h"
#include "util/utility.h"

namespace program_test {

using framework::Property;
using framework::UserAction;

// A restart that only records that it was asked for.
class RecordingRestart final : public framework::RestartBackend {
public:
    bool RestartNow() override {
        restarts.fetch_add(1);
        return true;
    }
    std::atomic<int> restarts{0};
};

// The emulated PC as a library that may say it is not emulated (a real machine's library), so
// that a confirmed restart reaches the (recorded) restart services.
class ForwardingVlmIo final : public pci::IVlmIo {
public:
    explicit ForwardingVlmIo(pci::IVlmIo& inner) : m_inner(inner) {}
    uint32_t LoadVlmIODriver() override {
        loads.fetch_add(1);
        return loadSucceeds.load() ? m_inner.LoadVlmIODriver() : 0;
    }
    void UnloadVlmIODriver() override {
        unloads.fetch_add(1);
        m_inner.UnloadVlmIODriver();
    }
    uint32_t PCI_Read_BYTE(uint32_t b, uint32_t d, uint32_t f, uint32_t o) override {
        return m_inner.PCI_Read_BYTE(b, d, f, o);
    }
    uint32_t PCI_Read_DWORD(uint32_t b, uint32_t d, uint32_t f, uint32_t o) override {
        return m_inner.PCI_Read_DWORD(b, d, f, o);
    }
    void PCI_Write_Byte(uint32_t b, uint32_t d, uint32_t f, uint32_t o, uint32_t v) override {
        m_inner.PCI_Write_Byte(b, d, f, o, v);
    }
    void PCI_Write_DWORD(uint32_t b, uint32_t d, uint32_t f, uint32_t o, uint32_t v) override {
        m_inner.PCI_Write_DWORD(b, d, f, o, v);
    }
    bool IsEmulated() override { return emulated.load(); }

    std::atomic<bool> emulated{true};
    std::atomic<bool> loadSucceeds{true};
    std::atomic<int> loads{0};
    std::atomic<int> unloads{0};

private:
    pci::IVlmIo& m_inner;
};

// A 64 KiB image with a recognisable pattern.
inline std::string MakeImage(std::size_t size = 0x10000, uint8_t seed = 0x5A) {
    std::string image(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        image[i] = static_cast<char>((i * 7 + seed + (i >> 8)) & 0xFF);
    }
    return image;
}

// How long the harness's end of the process waits for a job thread between two looks.
inline constexpr uint64_t kJobWaitSliceMs = 1000;

inline constexpr const char* kLicenceRtf =
    "{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}\\f0 Licence text\\par Second line\\par}";

class ProgramHarness {
public:
    // clockFactor divides every duration of the run (20 keeps the bridge's 1-second limit at
    // 50 ms of real time).
    explicit ProgramHarness(const std::string& machine, uint32_t clockFactor = 20,
                            bool withImage = true, bool withLicence = true)
        : m_clock(clockFactor) {
        EXPECT_TRUE(folder.ok());
        if (withImage) folder.Write("fw.rom", image);
        if (withLicence) folder.Write("License_Agreement.rtf", kLicenceRtf);
        m_machine.emplace(machine, m_clock, folder.path());
        EXPECT_TRUE(m_machine->Ok()) << m_machine->Error();
        if (m_machine->Ok()) {
            pc = m_machine->pc.get();
            library = std::make_unique<ForwardingVlmIo>(*m_machine->io);
            m_switch = std::make_unique<flash::CStoppableVlmIo>(*library);
        }

        windows.SetDialogResponder([this](const framework::WindowState& w) { return Answer(w); });
        windows.SetMessageBoxResponder([this](const framework::MessageBoxRecord& box) {
            std::function<void(const framework::MessageBoxRecord&)> hook;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                hook = onMessageBox;
            }
            if (hook) hook(box);
            return framework::kIdOk;
        });
        pci::Services services;
        services.platform.clock = &m_clock;
        services.platform.keepAwake = &keepAwake;
        services.platform.restart = &restart;
        services.platform.eventLog = &eventLog;
        services.platform.notices = [this](const std::string& text) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_notices.push_back(text);
        };
        // The process would end here, without the threads it could not wait for: the harness
        // records the status, then waits for them so that the test can go on safely.
        services.platform.endProcess = [this](int status) {
            endedProcessWith.store(status);
            for (const framework::ThreadHandle& job : g_pMainDlg->m_hJobThread) {
                while (job && !job->WaitForEnd(kJobWaitSliceMs)) {
                }
            }
        };
        windows.Provide(services.platform);
        services.vlmIo = m_switch.get();
        m_services.emplace(std::move(services));

        ResetProgramState();
        g_Utility.SetModulePath(folder / "vlm270fwupdate");
        g_Utility.m_pFWBinBuffer = nullptr;
        g_Utility.m_dwFWBinSize = 0;
    }

    ~ProgramHarness() {
        // A run misuses no bridge and no chip, unless the test named what it may cause.
        if (pc != nullptr) {
            for (const vlmio::emu::Violation& v : pc->Violations()) {
                if (m_allowedViolations.count(vlmio::emu::ViolationName(v.kind)) == 0) {
                    ADD_FAILURE() << "host misuse: " << vlmio::emu::FormatViolation(v);
                }
            }
        }
        m_services.reset();
        g_Utility.SetModulePath(framework::ModulePath());
        ResetProgramState();
    }

    // Lets the run cause host misuse of that kind (a violation's name, e.g. "bridge-busy") without
    // failing the test: for runs on faulty hardware.
    void AllowViolations(std::initializer_list<const char*> kinds) {
        for (const char* kind : kinds) m_allowedViolations.insert(kind);
    }

    // Runs the program with that command line; returns the exit status.
    int Run(const std::string& commandLine = std::string()) {
        return framework::RunApplication(theApp, commandLine);
    }

    // Answers of the user, per dialog template, played in order; a dialog without (more)
    // answers waits (the main window), accepts (the licence) or presses Escape (any other).
    void Script(int templateId, std::vector<UserAction> actions) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_scripts[templateId] = std::move(actions);
        m_next[templateId] = 0;
    }

    // The last window made from that template.
    framework::WindowState Window(int templateId) const {
        auto w = windows.FindWindow(templateId);
        EXPECT_TRUE(w.has_value()) << "no window of template " << templateId;
        return w ? *w : framework::WindowState{};
    }
    bool WindowMade(int templateId) const { return windows.FindWindow(templateId).has_value(); }

    // Every value a property of a main-window control took, in order.
    std::vector<int64_t> Values(int controlId, Property property) const {
        std::vector<int64_t> values;
        for (const framework::ChangeRecord& r : windows.History()) {
            if (r.templateId == res::IDD_VLM270FWUPDATE_DIALOG && r.controlId == controlId &&
                r.property == property) {
                values.push_back(r.value);
            }
        }
        return values;
    }

    // Whether the main window was ever visible.
    bool MainWindowEverShown() const {
        for (const framework::ChangeRecord& r : windows.History()) {
            if (r.templateId == res::IDD_VLM270FWUPDATE_DIALOG &&
                r.property == Property::kWindowVisible && r.value == 1) {
                return true;
            }
        }
        return false;
    }

    // The notices shown, in order.
    std::vector<std::string> Notices() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_notices;
    }

    std::vector<std::string> MessageTexts() const {
        std::vector<std::string> texts;
        for (const auto& box : windows.MessageBoxes()) texts.push_back(box.text);
        return texts;
    }

    std::vector<uint8_t> Flash(uint32_t bus, uint32_t device, uint32_t function) {
        EXPECT_NE(pc ? pc->Chip(bus, device, function) : nullptr, nullptr);
        return m_machine->Flash(bus, device, function);
    }
    // Whether the flash starts with the image.
    bool HoldsImage(uint32_t bus, uint32_t device, uint32_t function) {
        std::vector<uint8_t> contents = Flash(bus, device, function);
        return contents.size() >= image.size() &&
               std::equal(image.begin(), image.end(), contents.begin(),
                          [](char a, uint8_t b) { return static_cast<uint8_t>(a) == b; });
    }

    testsupport::TempFolder folder;
    testsupport::CurrentDirectoryGuard cwd;
    std::string image = MakeImage();
    testsupport::TestWindowSystem windows;
    vlmio::emu::EmulatedPc* pc = nullptr;
    std::unique_ptr<ForwardingVlmIo> library;
    RecordingRestart restart;
    testsupport::RecordingKeepAwake keepAwake;
    testsupport::MemoryEventLog eventLog;
    std::function<void(const framework::MessageBoxRecord&)> onMessageBox;
    // Plays the user at the main window (default: waits); called on the main thread.
    std::function<UserAction(const framework::WindowState&)> mainAnswer;
    // The status the process would have ended with at once (-1: it ended normally).
    std::atomic<int> endedProcessWith{-1};

private:
    // The program's own process-wide state, as a fresh process would have it.
    static void ResetProgramState() {
        ResetExitStatus();
        g_Utility.ClearControllers();
        g_Utility.m_bAllUpdated.store(0);
        for (UpdateJob& job : g_UpdateJobs) job.ucStatus.store(kJobRunning);
    }

    UserAction Answer(const framework::WindowState& w) {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_scripts.find(w.templateId);
        if (it != m_scripts.end() && m_next[w.templateId] < it->second.size()) {
            return it->second[m_next[w.templateId]++];
        }
        if (w.templateId == res::IDD_VLM270FWUPDATE_DIALOG) {
            return mainAnswer ? mainAnswer(w) : UserAction::Wait();
        }
        if (w.templateId == res::IDD_AGREEMENT) return UserAction::Press(framework::kIdOkCommand);
        return UserAction::Escape();
    }

    testsupport::ScaledClock m_clock;
    std::optional<testsupport::EmulatedMachine> m_machine;
    std::unique_ptr<flash::CStoppableVlmIo> m_switch;
    std::optional<testsupport::ScopedTestServices> m_services;
    mutable std::mutex m_mutex;
    std::map<int, std::vector<UserAction>> m_scripts;
    std::map<int, std::size_t> m_next;
    std::vector<std::string> m_notices;
    std::set<std::string> m_allowedViolations;
};

}  // namespace program_test
