#!/usr/bin/python3
"""Apertium's time per request through the translator stand-in
(--engine apertium), beside Apertium's own server, APy, on the same machine
with the same installed modes, both measured in the same run.

Both answer the same 50 short chat sentences (English to Spanish, French to
Spanish, Spanish to English, and French to English, which takes two pairs
through Spanish: APy's /translateChain), each request on a fresh connection
as Velantro makes them, after one untimed pass that warms every pipeline.
The passes then alternate between the two; the figure is the ratio of the
medians per request. Also measured, on a few of the sentences: the whole
pipeline started for every text ("apertium -u MODE", pair after pair), as
the engine did before its pipelines stayed warm. And what each warm mode
costs in memory: the proportional set size (PSS) of its processes, for both
servers.

usage: bench/apertium_latency.py BIN_DIR [--rounds N]
Needs apertium with apertium-eng-spa and apertium-fr-es, and apertium-apy
(Debian's /usr/bin/python3 has its modules)."""

import argparse
import http.client
import json
import os
import re
import socket
import statistics
import subprocess
import sys
import time
import urllib.parse

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import bench_session  # noqa: E402

# (text, source, target); targets as the exchange numbers them: 1 English, 5 Spanish.
SENTENCES = [(text, "eng", "spa") for text in (
    "Hello, how are you today?", "I will call you tomorrow morning.",
    "Did you see my message?", "The meeting is at three o'clock.",
    "Thank you very much for your help.", "I am at home now.",
    "Can you send me the photos?", "We are going to the beach this weekend.",
    "My brother is sick today.", "I would like a coffee.", "See you later, my friend.",
    "The train is late again.", "Happy birthday to your sister!")] + [
    (text, "fra", "spa") for text in (
        "Bonjour, comment vas-tu?", "Je suis très content de te voir.",
        "Nous allons au cinéma ce soir.", "Merci pour ton message.",
        "Le chien est dans le jardin.", "Je travaille demain matin.",
        "Tu as reçu ma lettre?", "Il fait beau aujourd'hui.", "Ma mère est à la maison.",
        "Je voudrais un café, s'il te plaît.", "Les enfants jouent dehors.",
        "Je te vois samedi.", "J'ai perdu mes clés.")] + [
    (text, "spa", "eng") for text in (
        "Hola, ¿qué tal estás?", "Mañana te llamo por la tarde.",
        "Gracias por tu ayuda.", "Estoy en el trabajo ahora.", "El perro es muy grande.",
        "Vamos a la playa el domingo.", "¿Dónde está la estación?",
        "Mi hermana vive en Madrid.", "Quiero un vaso de agua.", "Nos vemos luego, amigo.",
        "La comida está muy buena.", "Hoy hace mucho calor.")] + [
    (text, "fra", "eng") for text in (
        "Salut mon ami, ça va?", "Le chat dort sur le lit.", "Je suis fatigué ce soir.",
        "Où est la gare?", "Nous avons mangé au restaurant.", "Mon frère habite à Paris.",
        "Je t'appelle demain.", "La voiture est rouge.", "Elle aime beaucoup la musique.",
        "Il pleut depuis ce matin.", "Bonne nuit et à demain.", "Le livre est sur la table.")]
assert len(SENTENCES) == 50
CODES = {"eng": 1, "spa": 5, "fra": 6}
MODES = {("eng", "spa"): ["eng-spa"], ("fra", "spa"): ["fr-es"], ("spa", "eng"): ["spa-eng"],
         ("fra", "eng"): ["fr-es", "spa-eng"]}
DIRECTIONS = [("eng", "spa"), ("fra", "spa"), ("spa", "eng"), ("fra", "eng")]
APY_SHIM = """
import sys, tornado.httpserver as server
bind = server.HTTPServer.bind
# Loopback only: APy itself listens on every interface.
server.HTTPServer.bind = lambda self, port, address=None, **kw: bind(self, port, "127.0.0.1", **kw)
from apertium_apy.apy import main
sys.argv = ["apertium-apy"] + sys.argv[1:]
main()
"""


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def wait_for(check, timeout, what):
    deadline = time.monotonic() + timeout
    while True:
        try:
            if check():
                return
        except OSError:
            pass
        if time.monotonic() > deadline:
            raise RuntimeError(f"{what} did not come up")
        time.sleep(0.1)


def request(port, method, target, body=None):
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=60)
    try:
        headers = {"Content-Type": "application/x-www-form-urlencoded"} if body else {}
        connection.request(method, target, body=body, headers=headers)
        reply = connection.getresponse()
        data = reply.read()
        if reply.status != 200:
            raise RuntimeError(f"{method} {target}: {reply.status} {reply.reason}")
        return data
    finally:
        connection.close()


def translator_translate(port, text, source, target):
    body = urllib.parse.urlencode({"l1": text, "TargetLang": CODES[target]})
    reply = request(port, "POST", "/vl.asp", body.encode())
    return urllib.parse.unquote_plus(re.search(rb"l1=([^&]*)&", reply).group(1).decode())


def apy_translate(port, text, source, target):
    pairs = "|".join([source, "spa", target] if (source, target) == ("fra", "eng")
                     else [source, target])
    handler = "/translateChain" if pairs.count("|") > 1 else "/translate"
    argument = "langpairs" if handler == "/translateChain" else "langpair"
    query = urllib.parse.urlencode({argument: pairs, "q": text, "markUnknown": "no"})
    reply = json.loads(request(port, "GET", f"{handler}?{query}"))
    return reply["responseData"]["translatedText"]


def whole_pipeline_translate(text, source, target):
    """What the engine did before: every pair's whole pipeline per text."""
    for mode in MODES[(source, target)]:
        text = subprocess.run(["apertium", "-u", mode], input=text, capture_output=True,
                              text=True, check=True).stdout
    return text


def one_pass(translate, sentences):
    """Seconds per sentence, in order, and the translations."""
    times, translations = [], []
    for text, source, target in sentences:
        start = time.perf_counter()
        translation = translate(text, source, target)
        times.append(time.perf_counter() - start)
        if not translation.strip():
            raise RuntimeError(f"no translation for {text!r}")
        translations.append(translation)
    return times, translations


def descendants(root):
    children = {}
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            try:
                with open(f"/proc/{entry}/stat") as stat:
                    fields = stat.read().rsplit(")", 1)[1].split()
                children.setdefault(int(fields[1]), []).append(int(entry))
            except OSError:
                continue
    found, todo = [], [root]
    while todo:
        for child in children.get(todo.pop(), []):
            found.append(child)
            todo.append(child)
    return found


def memory_by_mode(root):
    """MiB of PSS of root's descendants, by the mode whose data they load."""
    modes = {}
    for pid in descendants(root):
        try:
            with open(f"/proc/{pid}/cmdline", "rb") as file:
                command = file.read().replace(b"\0", b" ").decode(errors="replace")
            with open(f"/proc/{pid}/smaps_rollup") as file:
                pss = int(re.search(r"^Pss:\s+(\d+) kB", file.read(), re.M).group(1))
        except (OSError, AttributeError):
            continue
        data = re.search(r"/([a-z]+-[a-z]+)\.[a-z0-9]+\.bin", command)
        if data:
            mode = data.group(1)
            modes[mode] = modes.get(mode, 0) + pss / 1024
    return modes


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("bin", help="the folder holding the translator stand-in")
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--before", type=int, default=2,
                        help="sentences per direction run as whole pipelines")
    args = parser.parse_args()

    listed = subprocess.run(["apertium", "-l"], capture_output=True, text=True).stdout.split()
    missing = {"eng-spa", "spa-eng", "fr-es"} - set(listed)
    if missing or not os.path.exists("/usr/bin/apertium-apy"):
        print(f"skipped: needs apertium-apy and the modes {sorted(missing)}")
        return 0

    translator_port, apy_port = free_port(), free_port()
    translator = subprocess.Popen(
        [os.path.join(args.bin, "translator"), "--web", "--port", str(translator_port),
         "--engine", "apertium"], stdin=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    apy = subprocess.Popen(["/usr/bin/python3", "-c", APY_SHIM, "-p", str(apy_port),
                            "/usr/share/apertium/modes"], stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        wait_for(lambda: socket.create_connection(("127.0.0.1", translator_port), 0.2).close()
                 is None, 20, "the translator")
        wait_for(lambda: request(apy_port, "GET", "/listPairs"), 60, "APy")
        sides = {"translator": lambda *s: translator_translate(translator_port, *s),
                 "APy": lambda *s: apy_translate(apy_port, *s)}
        # Untimed: every pipeline starts and loads its data.
        outputs = {name: one_pass(translate, SENTENCES)[1] for name, translate in sides.items()}
        times = {name: [] for name in sides}
        for round_ in range(args.rounds):
            for name in (["translator", "APy"] if round_ % 2 == 0 else ["APy", "translator"]):
                times[name].append(one_pass(sides[name], SENTENCES)[0])
        memory = {"translator": memory_by_mode(translator.pid), "APy": memory_by_mode(apy.pid)}
    finally:
        bench_session.stop(translator)
        bench_session.stop(apy)

    few = [s for d in DIRECTIONS for s in [x for x in SENTENCES if x[1:] == d][:args.before]]
    before = one_pass(whole_pipeline_translate, few)[0]

    def median_ms(name, direction=None):
        return 1e3 * statistics.median(
            t for run in times[name] for t, s in zip(run, SENTENCES)
            if direction is None or s[1:] == direction)

    same = sum(a.strip() == b.strip() for a, b in zip(outputs["translator"], outputs["APy"]))
    ours, theirs = median_ms("translator"), median_ms("APy")
    ratio = ours / theirs
    print(f"Apertium, 50 chat sentences: translator --engine apertium / APy: {ratio:.2f} "
          f"(goal <= 1.00: {'met' if ratio <= 1.0 else 'NOT met'}; {ours:.2f} vs "
          f"{theirs:.2f} ms per request, medians of {args.rounds} alternating passes, both "
          f"warm; {same} of 50 translations identical)")
    for direction in DIRECTIONS:
        name = "->".join(direction) + (" (through spa)" if direction == ("fra", "eng") else "")
        print(f"  {name}: {median_ms('translator', direction):.2f} vs "
              f"{median_ms('APy', direction):.2f} ms")
    whole = 1e3 * statistics.median(before)
    print(f"  before, the whole pipeline per request (apertium -u MODE, {len(few)} sentences): "
          f"{whole:.0f} ms per request, {whole / theirs:.1f} x APy")
    for mode in sorted(set(memory["translator"]) | set(memory["APy"])):
        print(f"  memory of the warm mode {mode} (PSS): translator "
              f"{memory['translator'].get(mode, 0):.1f} MiB, APy {memory['APy'].get(mode, 0):.1f} MiB")
    return 0


if __name__ == "__main__":
    sys.exit(main())
