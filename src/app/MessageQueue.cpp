#include "app/MessageQueue.h"

#include <utility>

namespace velantro::app {

TMessageQueue::~TMessageQueue() {
    Clear();
}

QueueAtom* TMessageQueue::Find(std::int32_t id) const {
    for (QueueAtom* atom = Head.get(); atom != nullptr; atom = atom->Next.get()) {
        if (atom->ChatMsgID == id) {
            return atom;
        }
    }
    return nullptr;
}

QueueAtom& TMessageQueue::QueueChatMsgPart(std::int32_t id, std::string value, TMsgPart part) {
    QueueAtom* atom = Find(id);
    if (atom == nullptr) {
        auto added = std::make_unique<QueueAtom>();
        added->ChatMsgID = id;
        added->Prev = Tail;
        atom = added.get();
        (Tail == nullptr ? Head : Tail->Next) = std::move(added);
        Tail = atom;
    }
    (part == TMsgPart::Body ? atom->Body : atom->FromHandle) = std::move(value);
    return *atom;
}

void TMessageQueue::Unlink(QueueAtom& atom) {
    std::unique_ptr<QueueAtom> next = std::move(atom.Next);
    if (next) {
        next->Prev = atom.Prev;
    } else {
        Tail = atom.Prev;
    }
    // The owner of atom is its predecessor's Next, or the head; replacing it
    // frees atom.
    (atom.Prev != nullptr ? atom.Prev->Next : Head) = std::move(next);
}

void TMessageQueue::Clear() {
    // One atom at a time, so a long queue is not freed by deep recursion.
    while (Head) {
        Head = std::move(Head->Next);
    }
    Tail = nullptr;
}

} // namespace velantro::app
