#!/usr/bin/python3
"""The demos' view of a Chromium that the launcher started: its command line with the switches it
ignores marked, what its page has, and what `quillon-persona show` lists as not carried by
Chromium, in show's words. Closes the browser.
Usage: demo_page.py PROFILE SHOW_JSON"""

import json, os, sys, time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests", "browser"))
from chromium_persona_test import DevTools, browser_pid, browser_pids, wait_for  # noqa: E402

# The switch each value that stock Chromium cannot carry would have had.
SWITCHES = {"webrtc-fake-public-ip": "--webrtc-fake-public-ip=", "geo-lat": "--geo-", "geo-lng": "--geo-",
            "device-memory": "--device-memory=", "hardware-concurrency": "--hardware-concurrency=",
            "speech-voices": "--speech-voices-preset=", "webgl-profile": "--webgl-"}
# The product engine's switches that Chromium ignores, for values the launcher also gives it in
# a form it honours.
CARRIED = {"--timezone-override=": "TZ", "--lang=": "LANGUAGE", "--accept-language=": "--accept-lang",
           "--force-webrtc-ip-handling-policy=": "--webrtc-ip-handling-policy"}
PAGE = """(() => {
  const gl = document.createElement('canvas').getContext('webgl'),
        info = gl && gl.getExtension('WEBGL_debug_renderer_info');
  return [Intl.DateTimeFormat().resolvedOptions().timeZone, navigator.languages.join(','),
          Intl.DateTimeFormat().resolvedOptions().locale, outerWidth + 'x' + outerHeight,
          navigator.deviceMemory, navigator.hardwareConcurrency,
          info ? gl.getParameter(info.UNMASKED_VENDOR_WEBGL) + ', ' +
                 gl.getParameter(info.UNMASKED_RENDERER_WEBGL) : 'none'];
})()"""


def main():
    profile, show = sys.argv[1], json.load(open(sys.argv[2]))
    try:  # the browser the launcher started: at most 5 s
        pid = wait_for(lambda: browser_pids(profile) and browser_pid(profile), "the browser", 5)
    except RuntimeError:
        sys.exit("no browser runs on " + profile)
    args = open("/proc/%d/cmdline" % pid, "rb").read().decode(errors="replace").split("\0")[:-1]
    not_carried = show["not_carried"]
    print("Chromium (pid %d, session %d) was started with (<- a switch Chromium ignores):"
          % (pid, os.getsid(pid)))
    for arg in args:
        names = [n for n in not_carried if arg.startswith(SWITCHES[n])]
        form = [f for p, f in CARRIED.items() if arg.startswith(p)]
        note = ("not carried by chromium: " + ", ".join(names) if names
                else "ignored; carried as " + form[0] if form else "")
        print("  " + arg + ("   <- " + note if note else ""))
    environ = open("/proc/%d/environ" % pid, "rb").read().decode(errors="replace").split("\0")
    print("  environment: " + (" ".join(e for e in environ if e.split("=")[0] in ("TZ", "LANGUAGE"))
                               or "no TZ, no LANGUAGE"))
    port_file = os.path.join(profile, "DevToolsActivePort")
    for _ in range(50):
        if os.path.exists(port_file) and len(open(port_file).read().split()) == 2:
            break
        time.sleep(0.1)
    port, path = open(port_file).read().split()
    devtools = DevTools(int(port), path)
    page = devtools.pages()[0]
    # A page read the moment it starts, or just after it goes to its start page, may not have its
    # window yet (0x0): read again, for at most 5 s.
    for _ in range(50):
        zone, languages, locale, window, memory, processors, webgl = devtools.evaluate(page, PAGE)
        if not window.startswith("0x"):
            break
        time.sleep(0.1)
    proxy = [a.split("=", 1)[1] for a in args if a.startswith("--proxy-server=")]
    print("The page has: time zone %s (this machine: %s), languages %s, Intl locale %s, proxy %s, "
          "window %s, device memory %s, %s processors, WebGL %s"
          % (zone, time.tzname[0], languages, locale, proxy[0] if proxy else "none", window,
             "%s GB" % memory if memory else "none (secure pages only)", processors, webgl))
    print("Not carried by chromium (quillon-persona show): %s"
          % (", ".join(not_carried) if not_carried else "none"))
    devtools.call("Browser.close")


if __name__ == "__main__":
    main()
