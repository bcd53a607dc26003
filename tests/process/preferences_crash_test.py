#!/usr/bin/env python3
"""A crash right after a launch leaves the profile's Default/Preferences whole.

The built launcher, for a stock Chromium, edits the Preferences of a profile on
a real ext4 file system (an image of its own, loop-mounted in a private mount
namespace); right after it exits the file system is stopped as a power loss
would stop it (EXT4_IOC_SHUTDOWN without flushing the journal), at once or
after the journal's next commit, then mounted again. The Preferences must hold the user's settings and the launch's value,
and the launcher's record must be whole. Needs root, mkfs.ext4 and loop
devices; without them it says so in one line and exits 77 (skipped), or 1
under CI=true unless QUILLON_ALLOW_SKIPS=1.

Usage: preferences_crash_test.py LAUNCHER
"""
import fcntl, json, os, shutil, struct, subprocess, sys, tempfile, time

EXT4_IOC_SHUTDOWN = 0x8004587D  # _IOR('X', 125, __u32)
EXT4_GOING_FLAGS_NOLOGFLUSH = 2
ROUNDS = 4
MOUNT = ["mount", "-o", "loop,commit=1"]  # the journal commits every second


def skip(why):
    if os.environ.get("CI") == "true" and os.environ.get("QUILLON_ALLOW_SKIPS") != "1":
        print(f"preferences_crash: {why}; failed (CI=true, QUILLON_ALLOW_SKIPS=1 accepts the skip)",
              file=sys.stderr)
        sys.exit(1)
    print(f"preferences_crash: {why}; skipped", file=sys.stderr)
    sys.exit(77)


def run(*args):
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, timeout=60)


def main():
    launcher = os.path.abspath(sys.argv[1])
    if os.geteuid() != 0:
        skip("needs root (a loop-mounted ext4 image)")
    if not shutil.which("mkfs.ext4"):
        skip("needs mkfs.ext4 (e2fsprogs)")
    if os.environ.get("QUILLON_IN_MOUNT_NS") != "1":
        # The mount stays in a namespace of its own, gone with the test.
        env = dict(os.environ, QUILLON_IN_MOUNT_NS="1")
        try:
            os.execvpe("unshare", ["unshare", "-m", "--propagation", "private",
                                   sys.executable, *sys.argv], env)
        except OSError as error:
            skip(f"needs unshare for a private mount namespace ({error})")

    work = tempfile.mkdtemp(prefix="quillon-crash-")
    image, mnt = os.path.join(work, "ext4.img"), os.path.join(work, "mnt")
    os.mkdir(mnt)
    mounted = False
    try:
        with open(image, "wb") as f:
            f.truncate(64 << 20)
        run("mkfs.ext4", "-q", "-F", image)
        try:
            run(*MOUNT, image, mnt)
        except subprocess.CalledProcessError as error:
            skip("mount -o loop failed: " + error.stderr.decode(errors="replace").strip())
        mounted = True

        udd = os.path.join(mnt, "profile")
        os.makedirs(os.path.join(udd, "Default"))
        user = {f"setting_{i}": "the user's own value " * 8 for i in range(100)}
        with open(os.path.join(udd, "Default", "Preferences"), "w") as f:
            json.dump({"user": user, "intl": {"selected_languages": "en-GB,en"}}, f)
        env = {"HOME": work, "PATH": "/usr/bin:/bin", "QUILLON_ENGINE_KIND": "chromium",
               "QUILLON_ENGINE_BIN": "/bin/true"}
        failures = []
        for round in range(ROUNDS):
            geolocation = round % 2 == 0  # set, then taken back, and so on
            with open(os.path.join(udd, "command-line.json"), "w") as f:
                json.dump({"auto-geo": 1} if geolocation else {}, f)
            os.sync()  # what stood before the launch is on the disk
            launch = subprocess.run([launcher, "--user-data-dir=" + udd], env=env, timeout=30,
                                    capture_output=True)
            # The machine stops right after the launch, at once or once the journal has
            # committed the launch's renames (the data itself would follow only 30 s later):
            # nothing more reaches the disk.
            if round // 2 % 2:
                time.sleep(3)
            fd = os.open(mnt, os.O_RDONLY | os.O_DIRECTORY)
            fcntl.ioctl(fd, EXT4_IOC_SHUTDOWN, struct.pack("I", EXT4_GOING_FLAGS_NOLOGFLUSH))
            os.close(fd)
            run("umount", mnt)
            run(*MOUNT, image, mnt)
            if launch.returncode != 0:
                failures.append(f"round {round}: launcher exit {launch.returncode} {launch.stderr!r}")
                continue
            path = os.path.join(udd, "Default", "Preferences")
            with open(path, "rb") as f:
                data = f.read()
            try:
                preferences = json.loads(data)
            except ValueError:
                failures.append(f"round {round}: Preferences not JSON after the crash "
                                f"({len(data)} bytes)")
                break
            if preferences.get("user") != user:
                failures.append(f"round {round}: the user's settings are gone")
            block = preferences.get("profile", {}).get("default_content_setting_values", {})
            if (block.get("geolocation") == 2) != geolocation:
                failures.append(f"round {round}: the launch's geolocation setting is not on the "
                                f"disk: {block}")
            record = os.path.join(udd, "Quillon Persona Settings")
            if os.path.exists(record):
                with open(record, "rb") as f:
                    text = f.read()
                try:
                    json.loads(text)
                except ValueError:
                    failures.append(f"round {round}: the record is not JSON ({len(text)} bytes)")
        for failure in failures:
            print("FAIL", failure)
        print(f"{ROUNDS} crashes right after a launch, {len(failures)} failures")
        return 1 if failures else 0
    finally:
        if mounted:
            subprocess.run(["umount", mnt], stderr=subprocess.DEVNULL)
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
