// What the dialog layer costs: a control change made from another thread,
// and a posted message's round trip through a dialog's loop.
#include <benchmark/benchmark.h>

#include <atomic>
#include <thread>

#include "framework/dialog.h"
#include "framework/memory/memory_window_system.h"
#include "res/resource_ids.h"

namespace {

using namespace framework;

// Runs the main dialog on its own thread until the benchmark ends it.
class RunningDialog : public Dialog {
public:
    RunningDialog() : Dialog(res::IDD_VLM270FWUPDATE_DIALOG) {}
    bool OnInitDialog() override {
        ready = true;
        return Dialog::OnInitDialog();
    }
    void OnCommand(int id) override {
        if (id == kEcho) echoed.fetch_add(1, std::memory_order_release);
        Dialog::OnCommand(id);
    }
    static constexpr int kEcho = 4000;
    std::atomic<bool> ready{false};
    std::atomic<int> echoed{0};
};

void BM_ProgressPosFromAnotherThread(benchmark::State& state) {
    MemoryWindowSystem windows;
    RunningDialog dialog;
    std::thread loop([&] { windows.RunModal(dialog, nullptr); });
    while (!dialog.ready) std::this_thread::yield();
    ProgressCtrl bar;
    bar.Attach(&dialog, res::IDC_OVERALL_PROGRESS);
    int pos = 0;
    for (auto _ : state) {
        bar.SetPos(pos);
        pos = (pos + 1) % 101;
    }
    dialog.EndDialog(kIdOkCommand);
    loop.join();
}
BENCHMARK(BM_ProgressPosFromAnotherThread);

void BM_PostedMessageRoundTrip(benchmark::State& state) {
    MemoryWindowSystem windows;
    RunningDialog dialog;
    std::thread loop([&] { windows.RunModal(dialog, nullptr); });
    while (!dialog.ready) std::this_thread::yield();
    int sent = 0;
    for (auto _ : state) {
        dialog.PostMessage(kWmCommand, RunningDialog::kEcho);
        ++sent;
        while (dialog.echoed.load(std::memory_order_acquire) != sent) std::this_thread::yield();
    }
    dialog.EndDialog(kIdOkCommand);
    loop.join();
}
BENCHMARK(BM_PostedMessageRoundTrip);

}  // namespace
