#pragma once

// A window-message service in one process that plays the chat client: it
// records every registration, broadcast and send, delivers attach statuses and
// copy-data lines to the hooked application window, answers commands, and
// plays the event loop and its clock: work queued with RunAfter, the results
// of sends and the client's answers run only when the test turns the loop
// (RunPending) or moves the clock on (Advance).

#include "platform/WindowMessages.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <ostream>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace velantro::doubles {

class FakeWindowMessages : public platform::WindowMessages {
public:
    using WindowHandle = platform::WindowHandle;

    struct BroadcastRecord {
        std::uint32_t Msg = 0;
        std::uintptr_t WParam = 0;
        std::intptr_t LParam = 0;
        bool operator==(const BroadcastRecord&) const = default;
    };

    /// One SendToWindow call. For CopyDataMessage the record's fields and its
    /// cbData bytes (the NUL included) are copied out while the call runs.
    struct SendRecord {
        WindowHandle Window = 0;
        std::uint32_t Msg = 0;
        std::uintptr_t WParam = 0;
        std::uintptr_t DwData = 0;
        std::uint32_t CbData = 0;
        std::string Bytes;
        bool operator==(const SendRecord&) const = default;

        /// The copied bytes up to the first NUL: the command line sent.
        std::string Line() const { return Bytes.substr(0, Bytes.find('\0')); }
    };

    /// What the application window made of a delivered message.
    struct Delivery {
        bool Handled = false;
        std::intptr_t Result = 0;
        bool operator==(const Delivery&) const = default;
    };

    // --- configuration -----------------------------------------------------

    /// The application window of this process.
    WindowHandle AppWindow = 0x1001;
    /// Names whose registration fails (gives 0).
    std::set<std::string> FailingNames;
    /// What Broadcast gives back.
    std::intptr_t BroadcastResult = 1;
    /// What a send gives back: the receiver's result (0: not accepted).
    std::intptr_t SendResult = 1;
    /// A send whose window never answers: its result never comes.
    bool SendsHang = false;

    /// Called inside every SendToWindow, after the send is recorded. Gives the
    /// lines the receiving window answers with; they are delivered to the
    /// application window from that window on the loop's next turn, before
    /// the send's result (as a client that answers while the send is still
    /// under way), or after it with AnswerAfterResult.
    std::function<std::vector<std::string>(const SendRecord&)> Answer;
    bool AnswerAfterResult = false;

    /// Called inside every Broadcast, after it is recorded: the place to play
    /// the client's answer to discovery (DeliverAttachStatus).
    std::function<void(const BroadcastRecord&)> OnBroadcast;

    // --- what was done -----------------------------------------------------

    /// Every registration call in order, with the id it gave.
    std::vector<std::pair<std::string, std::uint32_t>> Registrations;
    std::vector<BroadcastRecord> Broadcasts;
    std::vector<SendRecord> Sends;
    int HookCount = 0;
    int UnhookCount = 0;

    bool IsHooked() const { return static_cast<bool>(Hook); }

    /// The lines of every copy-data send, in order.
    std::vector<std::string> SentLines() const {
        std::vector<std::string> lines;
        for (const auto& send : Sends) {
            lines.push_back(send.Line());
        }
        return lines;
    }

    /// The id the name was registered with (0 when never or unsuccessfully).
    std::uint32_t IdOf(const std::string& name) const {
        const auto found = Ids.find(name);
        return found == Ids.end() || FailingNames.contains(name) ? 0 : found->second;
    }

    // --- delivering to the application window ------------------------------

    /// Passes one message to the hook, as the application window would.
    /// Without a hook nothing handles it.
    Delivery Deliver(platform::WindowMessage message) {
        if (!Hook) {
            return {false, message.Result};
        }
        // A copy, so that a hook removed while it runs stays alive until it returns.
        const platform::WindowHook hook = Hook;
        const bool handled = hook(message);
        return {handled, message.Result};
    }

    /// The attach message with status as lParam, from window from.
    Delivery DeliverAttachStatus(WindowHandle from, std::intptr_t status,
                                 std::intptr_t initialResult = 0) {
        return Deliver({IdOf("SkypeControlAPIAttach"), from, status, initialResult});
    }

    /// A copy-data block of cbData bytes at bytes.data() (bytes may be longer,
    /// to show that nothing past cbData is read), from window from.
    Delivery DeliverBlock(WindowHandle from, std::string_view bytes, std::uint32_t cbData,
                          std::intptr_t initialResult = 0) {
        platform::CopyDataRecord record;
        record.cbData = cbData;
        record.lpData = bytes.data();
        return Deliver({platform::CopyDataMessage, from, reinterpret_cast<std::intptr_t>(&record),
                        initialResult});
    }

    /// One line as the client sends it: its bytes, a NUL, cbData = length + 1.
    Delivery DeliverLine(WindowHandle from, std::string_view line,
                         std::intptr_t initialResult = 0) {
        std::string block(line);
        block.push_back('\0');
        return DeliverBlock(from, block, static_cast<std::uint32_t>(block.size()), initialResult);
    }

    // --- platform::WindowMessages --------------------------------------------

    std::uint32_t RegisterMessageName(const std::string& name) override {
        auto [entry, added] = Ids.try_emplace(name, NextId);
        if (added) {
            ++NextId;
        }
        const std::uint32_t id = FailingNames.contains(name) ? 0 : entry->second;
        Registrations.emplace_back(name, id);
        return id;
    }

    std::intptr_t Broadcast(std::uint32_t msg, std::uintptr_t wParam,
                            std::intptr_t lParam) override {
        Broadcasts.push_back({msg, wParam, lParam});
        if (OnBroadcast) {
            OnBroadcast(Broadcasts.back());
        }
        return BroadcastResult;
    }

    void SendToWindow(WindowHandle window, std::uint32_t msg, std::uintptr_t wParam,
                      std::intptr_t lParam, platform::SendDone done) override {
        SendRecord send{window, msg, wParam, 0, 0, {}};
        if (msg == platform::CopyDataMessage && lParam != 0) {
            const auto& record = *reinterpret_cast<const platform::CopyDataRecord*>(lParam);
            send.DwData = record.dwData;
            send.CbData = record.cbData;
            send.Bytes.assign(static_cast<const char*>(record.lpData), record.cbData);
        }
        Sends.push_back(send);
        std::vector<std::string> answer = Answer ? Answer(send) : std::vector<std::string>{};
        const auto deliverAnswer = [this, window, answer] {
            for (const std::string& line : answer) {
                DeliverLine(window, line);
            }
        };
        if (!AnswerAfterResult) {
            RunLater(deliverAnswer);
        }
        if (!SendsHang && done) {
            RunLater([done = std::move(done), result = SendResult] { done(result); });
        }
        if (AnswerAfterResult) {
            RunLater(deliverAnswer);
        }
    }

    void RunAfter(std::chrono::milliseconds delay, std::function<void()> work) override {
        Queued.emplace(std::make_pair(Now + delay, ++QueuedCount), std::move(work));
    }

    // --- the event loop and its clock ------------------------------------

    /// Runs everything due now, work queued meanwhile included; gives how much ran.
    int RunPending() { return RunUntil(Now); }

    /// One pass of the loop: runs what is due now and was queued before the
    /// call, not what that queues; gives how much ran.
    int RunOneRound() {
        const std::uint64_t last = QueuedCount;
        int ran = 0;
        while (!Queued.empty() && Queued.begin()->first.first <= Now &&
               Queued.begin()->first.second <= last) {
            const auto next = Queued.begin();
            std::function<void()> work = std::move(next->second);
            Queued.erase(next);
            work();
            ++ran;
        }
        return ran;
    }

    /// Moves the clock on by delay, running what falls due on the way, in order.
    int Advance(std::chrono::milliseconds delay) { return RunUntil(Now + delay); }

    /// Work queued and not yet run.
    std::size_t QueuedWork() const { return Queued.size(); }

    std::chrono::milliseconds Time() const { return Now; }

    WindowHandle ApplicationWindow() override { return AppWindow; }

    void HookMainWindow(platform::WindowHook hook) override {
        Hook = std::move(hook);
        ++HookCount;
    }

    void UnhookMainWindow() override {
        Hook = nullptr;
        ++UnhookCount;
    }

private:
    int RunUntil(std::chrono::milliseconds until) {
        int ran = 0;
        // A bound, so that a test whose work queues itself for ever fails
        // instead of hanging.
        constexpr int MaxRuns = 10'000'000;
        while (!Queued.empty() && Queued.begin()->first.first <= until && ran < MaxRuns) {
            const auto next = Queued.begin();
            Now = std::max(Now, next->first.first);
            std::function<void()> work = std::move(next->second);
            Queued.erase(next);
            work();
            ++ran;
        }
        Now = std::max(Now, until);
        return ran;
    }

    platform::WindowHook Hook;
    std::chrono::milliseconds Now{0};
    std::map<std::pair<std::chrono::milliseconds, std::uint64_t>, std::function<void()>> Queued;
    std::uint64_t QueuedCount = 0;
    std::map<std::string, std::uint32_t> Ids;
    std::uint32_t NextId = 0xC001;
};

inline std::ostream& operator<<(std::ostream& out, const FakeWindowMessages::Delivery& d) {
    return out << "{Handled " << (d.Handled ? "true" : "false") << ", Result " << d.Result << "}";
}

inline std::ostream& operator<<(std::ostream& out, const FakeWindowMessages::BroadcastRecord& b) {
    return out << "{Msg " << b.Msg << ", WParam " << b.WParam << ", LParam " << b.LParam << "}";
}

inline std::ostream& operator<<(std::ostream& out, const FakeWindowMessages::SendRecord& s) {
    out << "{Window " << s.Window << ", Msg " << s.Msg << ", WParam " << s.WParam << ", dwData "
        << s.DwData << ", cbData " << s.CbData << ", bytes \"";
    for (const char c : s.Bytes) {
        if (c == '\0') {
            out << "\\0";
        } else {
            out << c;
        }
    }
    return out << "\"}";
}

} // namespace velantro::doubles
