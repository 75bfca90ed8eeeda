#!/usr/bin/env python3
"""Judges one headless demo run (tools/demo/run-demo.sh): what the movie reported to the demo
site, what the upload sink received, what the data folder mirrored, and the screenshot."""

import argparse
import json
import os
import subprocess
import sys

failures = []
passes = []


def check(ok, what):
    print(("PASS: " if ok else "FAIL: ") + what)
    (passes if ok else failures).append(what)
    return ok


def reports(run):
    out = {}
    path = os.path.join(run, "reports.jsonl")
    if os.path.exists(path):
        with open(path, encoding="utf-8") as f:
            for line in f:
                entry = json.loads(line)
                out.setdefault(entry.get("step"), []).append(entry)
    return out


def pixel(image, x, y):
    convert = "/usr/bin/convert" if os.path.exists("/usr/bin/convert") else "convert"
    text = subprocess.run([convert, image, "-crop", "1x1+%d+%d" % (x, y), "-depth", "8", "-format",
                           "%[fx:int(255*r)],%[fx:int(255*g)],%[fx:int(255*b)]", "info:"],
                          capture_output=True, text=True, check=True).stdout
    return tuple(int(v) for v in text.strip().split(","))


def unique_colours(image):
    convert = "/usr/bin/convert" if os.path.exists("/usr/bin/convert") else "convert"
    text = subprocess.run([convert, image, "-format", "%k", "info:"], capture_output=True, text=True,
                          check=True).stdout
    return int(text.strip())


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--run", required=True)
    ap.add_argument("--site", required=True)
    ap.add_argument("--data", required=True)
    ap.add_argument("--state", required=True)
    ap.add_argument("--uid", required=True)
    ap.add_argument("--tid", required=True)
    ap.add_argument("--path", required=True)
    ap.add_argument("--screenshot")
    args = ap.parse_args()
    screenshot = args.screenshot or os.path.join(args.run, "screenshot.png")

    rep = reports(args.run)
    answers = (rep.get("answers") or [{}])[0]
    check(answers.get("welcome") == "client", "getWelcome answered client (got %r)" % answers.get("welcome"))
    os_name = answers.get("os", "")
    check(os_name not in ("", "(no answer)"), "getOSVersion answered a system name (got %r)" % os_name)
    for name in ("test_wave", "run_recognize"):
        check(answers.get(name) in ("0", "1"), "%s answered 0 or 1 (got %r)" % (name, answers.get(name)))
    media = (rep.get("media") or [{}])[0]
    check(media.get("picture") == "ok" and media.get("sound") == "ok",
          "the movie loaded the lesson's picture and sound through the local server (%r)" % media)
    upok = rep.get("upok") or []
    check(len(upok) == 1, "the movie got exactly one UPOK (got %d)" % len(upok))
    if upok:
        check(upok[0].get("shown") == "Upload confirmed! (1)",
              "the movie shows the confirmation (%r)" % upok[0].get("shown"))

    uploads_dir = os.path.join(args.run, "uploads")
    folders = sorted(os.listdir(uploads_dir)) if os.path.isdir(uploads_dir) else []
    check(len(folders) == 1, "the sink received exactly one upload (got %d)" % len(folders))
    if folders:
        with open(os.path.join(uploads_dir, folders[0], "upload.json"), encoding="utf-8") as f:
            upload = json.load(f)
        check(upload["path"] == args.path, "posted to %s (got %s)" % (args.path, upload["path"]))
        check("error" not in upload, "the body is well-formed multipart (%s)" % upload.get("error", "ok"))
        fields = upload["fields"]
        files = upload["files"]
        # Without a file part the closing section's own CRLF stays with the last field.
        tid_ok = fields.get("tid") == args.tid or (not files and fields.get("tid") == args.tid + "\r\n")
        check(fields.get("uid") == args.uid and tid_ok,
              "uid and tid arrived as %s, %s (got %r)" % (args.uid, args.tid, fields))
        local_mp3 = os.path.join(args.state, "test.mp3")
        if os.path.exists(local_mp3):
            with open(local_mp3, "rb") as f:
                recorded = f.read()
            check(len(files) == 1 and files[0]["field"] == "txtfile" and files[0]["filename"] == "test.mp3",
                  "the recording went out as the txtfile part test.mp3 (%r)" % files)
            if files:
                with open(os.path.join(uploads_dir, folders[0], files[0]["saved"]), "rb") as f:
                    sent = f.read()
                # The host's body puts two CRLF pairs after the file, so a strict multipart reading
                # sees one CRLF more than the file holds.
                check(sent in (recorded, recorded + b"\r\n"),
                      "the uploaded bytes are the recording (%d sent, %d recorded)" % (len(sent), len(recorded)))
        elif os.path.exists(os.path.join(args.run, "asound.conf")):
            check(False, "the run had the test capture device, yet no test.mp3 was recorded")
        else:
            print("NOTE: no test.mp3 was recorded (no capture device); the upload carries the fields only")
            check(files == [], "without a recording the upload has no file part (%r)" % files)
    local_wav = os.path.join(args.state, "test.wav")
    if os.path.exists(os.path.join(args.run, "asound.conf")) and check(os.path.exists(local_wav), "test.wav was recorded"):
        # The test device played a spoken sentence into the microphone: the WAV is not silence.
        stat = subprocess.run(["sox", local_wav, "-n", "stat"], capture_output=True, text=True).stderr
        rms = [float(l.split(":")[1]) for l in stat.splitlines() if l.startswith("RMS     amplitude")]
        check(rms and rms[0] > 0.01, "test.wav holds sound (RMS %r)" % rms)

    # The mirroring: the data folder holds what the movie fetched, byte for byte. (vexa.xml is
    # not among them: on a first start the upkeep deletes the folder it was downloaded into.)
    for rel in ("vexa.swf", "lesson1/apple.jpg", "lesson1/apple.mp3"):
        local = os.path.join(args.data, rel)
        same = False
        if os.path.exists(local):
            with open(local, "rb") as a, open(os.path.join(args.site, rel), "rb") as b:
                same = a.read() == b.read()
        check(same, "the data folder mirrors %s" % rel)
    verdel = os.path.join(args.data, "VerDel.Dat")
    content = open(verdel, encoding="utf-8", errors="replace").read() if os.path.exists(verdel) else ""
    check("<lesson1>1</lesson1>" in content, "VerDel.Dat records lesson1 version 1 (%r)" % content[:120])

    if check(os.path.exists(screenshot), "a screenshot was saved"):
        check(unique_colours(screenshot) > 50, "the screenshot is not blank")
        # The confirmation banner of the demo movie is green, at the right of the lesson card.
        greens = [pixel(screenshot, x, y) for x, y in ((540, 346), (720, 350), (900, 380))]
        check(all(g > r + 60 and g > b + 40 for r, g, b in greens),
              "the screenshot shows the green confirmation banner (%r)" % greens)

    window = os.path.join(args.run, "window.txt")
    if os.path.exists(window):
        text = open(window, encoding="utf-8", errors="replace").read()
        check('WM_CLASS(STRING) = "vexa", "Vexa"' in text, "the window's class is vexa/Vexa")
        check("_NET_WM_ICON: set" in text, "the window has its icon")

    print("demo run checks: %d passed, %d failed" % (len(passes), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
