"""A plain XMPP client (slixmpp) driven through its standard input and
output, one JSON object per line: the other side of a conversation with
Velantro, for the tests and the demo.

  xmpp_contact.py JID HOST PORT [--ca FILE | --plain] [--befriend JID]

The password comes from the environment variable XMPP_CONTACT_PASSWORD. It
accepts every subscription request and asks back. Input lines:
  {"send": ["bob@localhost", "text"]}   a chat message
  {"subscribe": "carol@localhost"}       a subscription request
Output lines:
  {"event": "ready"}                      signed in, roster read
  {"event": "message", "from": "alice@localhost", "body": "..."}
  {"event": "roster", "jid": "...", "subscription": "to"}
With --befriend JID it asks JID for its presence, waits until the answer
makes JID a friend (subscription to or both) and ends."""

import argparse
import asyncio
import json
import os
import ssl
import sys

import slixmpp


def say(**event):
    sys.stdout.write(json.dumps(event, ensure_ascii=False) + "\n")
    sys.stdout.flush()


class Contact(slixmpp.ClientXMPP):
    def __init__(self, jid, password, befriend):
        super().__init__(jid, password)
        self.befriend = befriend
        self.pending = b""
        self.roster.auto_authorize = True
        self.roster.auto_subscribe = True
        self.add_event_handler("session_start", self.started)
        self.add_event_handler("message", self.message)
        self.add_event_handler("roster_update", self.roster_changed)

    async def started(self, _event):
        await self.get_roster()
        self.send_presence()
        if self.befriend:
            self.send_presence(pto=self.befriend, ptype="subscribe")
        else:
            say(event="ready")
            self.loop.add_reader(sys.stdin.fileno(), self.command)

    def roster_changed(self, _iq):
        for jid in self.client_roster:
            subscription = self.client_roster[jid]["subscription"]
            say(event="roster", jid=jid, subscription=subscription)
            if jid == self.befriend and subscription in ("to", "both"):
                self.disconnect()

    def message(self, message):
        if message["type"] in ("chat", "normal") and message["body"]:
            say(event="message", **{"from": message["from"].bare, "body": message["body"]})

    def command(self):
        # Read from the descriptor itself: a buffered readline would keep the
        # lines after the first of a burst in its buffer, where no readiness
        # of the descriptor announces them.
        chunk = os.read(sys.stdin.fileno(), 65536)
        if not chunk:
            self.disconnect()
            return
        self.pending += chunk
        *lines, self.pending = self.pending.split(b"\n")
        for line in lines:
            if line.strip():
                self.obey(json.loads(line))

    def obey(self, request):
        if "send" in request:
            to, body = request["send"]
            self.send_message(mto=to, mbody=body, mtype="chat")
        elif "subscribe" in request:
            self.send_presence(pto=request["subscribe"], ptype="subscribe")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("jid")
    parser.add_argument("host")
    parser.add_argument("port", type=int)
    parser.add_argument("--ca")
    parser.add_argument("--plain", action="store_true")
    parser.add_argument("--befriend")
    arguments = parser.parse_args()
    contact = Contact(arguments.jid, os.environ["XMPP_CONTACT_PASSWORD"], arguments.befriend)
    if arguments.ca:
        contact.ssl_context = ssl.create_default_context(cafile=arguments.ca)
    contact.connect((arguments.host, arguments.port), force_starttls=not arguments.plain,
                    disable_starttls=arguments.plain)
    asyncio.get_event_loop().run_until_complete(contact.disconnected)


if __name__ == "__main__":
    main()
