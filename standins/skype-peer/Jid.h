#pragma once

// The rules of XMPP addresses that the peer needs, and the text a stanza may
// carry; plain functions over bytes.

#include <string>
#include <string_view>

namespace velantro::standins {

/// Whether handle is a bare JID this peer sends to: [local@]domain, no
/// resource, valid UTF-8 without blanks or control bytes, no character a
/// localpart may not hold, parts of at most 1023 bytes.
bool IsBareJid(std::string_view handle);

/// Whether handle is a bare JID that the chat client's lines carry as one
/// handle: a friends list ("USERS a, b") splits at blanks and commas, so a
/// JID holding a comma is none.
bool IsFriendHandle(std::string_view handle);

/// jid without its resource ("bob@example.org/phone" -> "bob@example.org").
std::string BareJid(std::string_view jid);

/// text with every byte sequence that is not UTF-8, and every character XML
/// cannot carry (controls other than TAB, LF and CR, U+FFFE, U+FFFF),
/// replaced by U+FFFD, so that a stanza holding it keeps the stream valid.
std::string XmlSafeText(std::string_view text);

/// The domain part of a JID ("alice@example.org/pc" -> "example.org").
std::string JidDomain(std::string_view jid);

} // namespace velantro::standins
