#include "XmppArchive.h"

#include "common/FileDescriptor.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace velantro::standins {

namespace {

constexpr std::string_view Header =
    "# skype-peer: how far the XMPP account's message archive has been read\n";
constexpr std::size_t DeviceDigits = 16;

bool IsDevice(std::string_view text) {
    return text.size() == DeviceDigits && std::all_of(text.begin(), text.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
}

std::string NewDevice() {
    std::random_device random;
    std::string device;
    constexpr std::string_view Hex = "0123456789abcdef";
    for (std::size_t i = 0; i < DeviceDigits; ++i) {
        device += Hex[random() % Hex.size()];
    }
    return device;
}

std::string SystemError(const std::string& what, const std::string& path) {
    return what + " " + path + ": " + std::strerror(errno);
}

/// Makes folder and the folders above it that are missing, for the user only.
void MakeFolders(const std::string& folder) {
    for (std::size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
        const std::string part = folder.substr(0, slash);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
            throw std::runtime_error(SystemError("cannot make the folder", part));
        }
        if (slash == std::string::npos) {
            return;
        }
    }
}

} // namespace

std::string ArchiveStateText(const ArchiveState& state) {
    std::string text(Header);
    text += "device " + state.Device + "\n";
    if (state.Known) {
        text += state.After.empty() ? "after\n" : "after " + state.After + "\n";
    }
    for (const std::string& id : state.Settled) {
        text += "settled " + id + "\n";
    }
    return text;
}

std::optional<ArchiveState> ReadArchiveStateText(std::string_view text) {
    ArchiveState state;
    bool device = false;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (line.empty() || line.front() == '#') {
            continue;
        }
        const std::size_t blank = line.find(' ');
        const std::string_view key = line.substr(0, blank);
        const std::string_view value =
            blank == std::string_view::npos ? std::string_view() : line.substr(blank + 1);
        if (key == "device" && !device && IsDevice(value)) {
            state.Device = value;
            device = true;
        } else if (key == "after" && !state.Known && (value.empty() || KeepableId(value))) {
            state.Known = true;
            state.After = value;
        } else if (key == "settled" && KeepableId(value)) {
            state.Settled.emplace_back(value);
        } else {
            return std::nullopt;
        }
    }
    if (!device) {
        return std::nullopt;
    }
    if (state.Settled.size() > XmppArchive::MaxRememberedSettled) {
        state.Settled.erase(state.Settled.begin(),
                            state.Settled.end() - XmppArchive::MaxRememberedSettled);
    }
    return state;
}

std::string ArchiveStatePath(std::string_view account, std::string_view stateHome,
                             std::string_view home) {
    std::string folder;
    if (!stateHome.empty() && stateHome.front() == '/') {
        folder = stateHome;
    } else if (!home.empty() && home.front() == '/') {
        folder = std::string(home) + "/.local/state";
    } else {
        return {};
    }
    std::string name = "xmpp-";
    for (const char c : account) {
        const auto byte = static_cast<unsigned char>(c);
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
            std::string_view("@._+-").find(c) != std::string_view::npos) {
            name += c;
        } else {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", byte);
            name += escaped;
        }
    }
    return folder + "/velantro/" + name + ".state";
}

std::optional<ArchiveState> LoadArchiveState(const std::string& path, std::string& problem) {
    problem.clear();
    const common::FileDescriptor file(
        ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    const int fd = file.Get();
    if (!file) {
        if (errno != ENOENT) {
            problem = SystemError("cannot read the archive state", path);
        }
        return std::nullopt;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        problem = "the archive state " + path + " is not a regular file";
        return std::nullopt;
    }
    std::string text(XmppArchive::MaxStateBytes + 1, '\0');
    std::size_t size = 0;
    while (size < text.size()) {
        const ssize_t count = ::read(fd, text.data() + size, text.size() - size);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            problem = SystemError("cannot read the archive state", path);
            return std::nullopt;
        }
        if (count == 0) {
            break;
        }
        size += static_cast<std::size_t>(count);
    }
    if (size > XmppArchive::MaxStateBytes) {
        problem = "the archive state " + path + " is larger than " +
                  std::to_string(XmppArchive::MaxStateBytes) + " bytes";
        return std::nullopt;
    }
    text.resize(size);
    auto state = ReadArchiveStateText(text);
    if (!state) {
        problem = "the archive state " + path + " is not one skype-peer wrote";
    }
    return state;
}

void SaveArchiveState(const std::string& path, const ArchiveState& state) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos || slash == 0) {
        throw std::runtime_error("no folder for the archive state " + path);
    }
    MakeFolders(path.substr(0, slash));
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
        throw std::runtime_error("the archive state " + path + " is not a regular file");
    }
    std::string temporary = path + ".XXXXXX";
    common::FileDescriptor file(::mkstemp(temporary.data()));
    const int fd = file.Get();
    if (!file) {
        throw std::runtime_error(SystemError("cannot write", temporary));
    }
    const std::string text = ArchiveStateText(state);
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t count = ::write(fd, text.data() + written, text.size() - written);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            const std::string error = SystemError("cannot write", temporary);
            ::unlink(temporary.c_str());
            throw std::runtime_error(error);
        }
        written += static_cast<std::size_t>(count);
    }
    if (::fsync(fd) != 0 || !file.Close() || ::rename(temporary.c_str(), path.c_str()) != 0) {
        const std::string error = SystemError("cannot write", path);
        ::unlink(temporary.c_str());
        throw std::runtime_error(error);
    }
}

XmppArchive::XmppArchive(std::optional<ArchiveState> state) {
    if (state) {
        State = std::move(*state);
        SettledEarlier.insert(State.Settled.begin(), State.Settled.end());
    } else {
        State.Device = NewDevice();
        Dirty = true;
    }
}

XmppArchive::Query XmppArchive::Begin() {
    Fetched = 0;
    Held.clear();
    return State.Known ? Ask(State.After, false) : Ask({}, true);
}

XmppArchive::Query XmppArchive::Ask(std::string after, bool newest) {
    Current = {"velantro-archive-" + std::to_string(++QueryNumber), std::move(after), newest};
    return Current;
}

std::optional<XmppArchive::Query> XmppArchive::PageEnded(const ArchivePage& page,
                                                         std::string& problem, std::string& note) {
    problem.clear();
    note.clear();
    if (!Reading()) {
        return std::nullopt;
    }
    if (Current.Newest) {
        if (!page.Answered) {
            problem = "the message archive did not answer; it is read at the next sign-in";
            Finish(false);
            return std::nullopt;
        }
        // Where reading starts; what came before is left where it is.
        State.Known = true;
        MoveTo(page.Last);
        Finish(false);
        return std::nullopt;
    }
    if (!page.Answered && page.ItemNotFound && !Current.After.empty()) {
        // Expired (servers keep messages for a while) or another server's:
        // whatever the archive still holds came after it.
        note = "the message archive no longer holds the message it was read up to; it is read "
               "from its oldest message";
        Entries.clear();
        MoveTo({});
        return Ask({}, false);
    }
    if (!page.Answered) {
        problem = "the message archive did not answer; it is read again at the next sign-in";
        Finish(false);
        return std::nullopt;
    }
    if (page.Complete || page.Last.empty()) {
        SettledEarlier.clear(); // met by now, or gone from the archive
        Finish(true);
        return std::nullopt;
    }
    if (Fetched >= MaxPerSignIn) {
        problem = "more than " + std::to_string(MaxPerSignIn) +
                  " messages in the message archive since it was last read; the rest come at "
                  "the next sign-in";
        Finish(false);
        return std::nullopt;
    }
    return Ask(page.Last, false);
}

void XmppArchive::Finish(bool placeHeld) {
    Current = {};
    std::vector<Entry> held;
    held.swap(Held);
    // Held messages not met in the archive came after what it gave; if the
    // reading stopped short, their place is unknown and they are not
    // tracked, so the position never skips what was not read.
    if (placeHeld) {
        for (Entry& entry : held) {
            Place(std::move(entry));
        }
    }
}

void XmppArchive::SignedOut() {
    Current = {};
    Held.clear();
}

XmppArchive::Admission XmppArchive::Admit(const XmppArrival& arrival) {
    const bool fromArchive = !arrival.QueryId.empty();
    if (fromArchive) {
        // Only the query under way is read; the newest message alone only
        // marks a position.
        if (!Reading() || arrival.QueryId != Current.Id || Current.Newest ||
            Fetched >= MaxPerSignIn) {
            return {};
        }
        ++Fetched;
    }
    if (arrival.What != XmppArrival::Kind::Received && arrival.What != XmppArrival::Kind::Own) {
        return {};
    }
    const std::string& id = arrival.ArchiveId;
    if (Remembered(id) || Remembered(arrival.SenderKey)) {
        // A copy: live or offline first, then from the archive, whose order
        // places the first one.
        if (fromArchive && !id.empty()) {
            const auto held = std::find_if(Held.begin(), Held.end(),
                                           [&](const Entry& entry) { return entry.Id == id; });
            if (held != Held.end()) {
                Entry entry = std::move(*held);
                Held.erase(held);
                Place(std::move(entry));
            }
        }
        return {};
    }
    Remember(id);
    Remember(arrival.SenderKey);
    if (!id.empty() && SettledEarlier.erase(id) > 0) {
        if (fromArchive) {
            Place({id, 0, true});
        }
        return {};
    }
    const bool tracked = !id.empty() && (State.Known || (Reading() && !Current.Newest));
    if (!tracked) {
        return {true, 0};
    }
    const std::uint64_t tag = ++LastTag;
    // The user's own messages are never missed.
    Entry entry{id, tag, arrival.What == XmppArrival::Kind::Own};
    if (fromArchive || !Reading()) {
        Place(std::move(entry));
    } else if (Held.size() < MaxWaiting) {
        Held.push_back(std::move(entry));
    }
    return {true, tag};
}

void XmppArchive::Settled(std::uint64_t tag) {
    for (Entry& entry : Entries) {
        if (entry.Tag == tag) {
            entry.Settled = true;
            Dirty = true;
            Advance();
            return;
        }
    }
    for (Entry& entry : Held) {
        if (entry.Tag == tag) {
            entry.Settled = true;
            Dirty = true;
            return;
        }
    }
}

void XmppArchive::Place(Entry entry) {
    Entries.push_back(std::move(entry));
    Dirty = true;
    Advance();
    while (Entries.size() > MaxWaiting) {
        // One that never settles holds back no more than this many.
        MoveTo(Entries.front().Id);
        Entries.pop_front();
        Advance();
    }
}

void XmppArchive::Advance() {
    while (!Entries.empty() && Entries.front().Settled) {
        MoveTo(Entries.front().Id);
        Entries.pop_front();
    }
}

void XmppArchive::MoveTo(const std::string& id) {
    State.Known = true;
    State.After = id;
    Dirty = true;
}

ArchiveState XmppArchive::TakeState() {
    Dirty = false;
    ArchiveState state{State.Device, State.Known, State.After, {}};
    for (const Entry& entry : Entries) {
        if (entry.Settled) {
            state.Settled.push_back(entry.Id);
        }
    }
    for (const Entry& entry : Held) {
        if (entry.Settled) {
            state.Settled.push_back(entry.Id);
        }
    }
    state.Settled.insert(state.Settled.end(), SettledEarlier.begin(), SettledEarlier.end());
    if (state.Settled.size() > MaxRememberedSettled) {
        state.Settled.resize(MaxRememberedSettled);
    }
    return state;
}

bool XmppArchive::Remembered(const std::string& key) const {
    return !key.empty() && Recent.contains(key);
}

void XmppArchive::Remember(const std::string& key) {
    if (key.empty() || !Recent.insert(key).second) {
        return;
    }
    RecentOrder.push_back(key);
    if (RecentOrder.size() > MaxRemembered) {
        Recent.erase(RecentOrder.front());
        RecentOrder.pop_front();
    }
}

} // namespace velantro::standins
