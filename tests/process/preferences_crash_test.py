#!/usr/bin/env python3
"""A crash right after a launch leaves the profile's Default/Preferences whole.

The built LAUNCHER, for a stock Chromium, edits the Preferences of a profile on an ext4 image of
its own, loop-mounted in a private mount namespace, which is then stopped as a power loss would
stop it (EXT4_IOC_SHUTDOWN without flushing the journal), at once or after the journal's next
commit, and mounted again. Needs root, mkfs.ext4 and loop devices; without them it says so in one
line and exits 77 (skipped), or 1 under CI=true unless QUILLON_ALLOW_SKIPS=1.
"""
import fcntl, json, os, shutil, struct, subprocess, sys, tempfile, time

EXT4_IOC_SHUTDOWN, EXT4_GOING_FLAGS_NOLOGFLUSH = 0x8004587D, 2  # _IOR('X', 125, __u32)
MOUNT = ["mount", "-o", "loop,commit=1"]  # the journal commits every second


def skip(why):
    failed = os.environ.get("CI") == "true" and os.environ.get("QUILLON_ALLOW_SKIPS") != "1"
    print(f"preferences_crash: {why}; " + ("failed (CI=true, QUILLON_ALLOW_SKIPS=1 accepts the skip)"
                                          if failed else "skipped"), file=sys.stderr)
    sys.exit(1 if failed else 77)


def run(*args):
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, timeout=60)


def read_json(path):
    with open(path, "rb") as f:
        data = f.read()
    try:
        return json.loads(data)
    except ValueError:
        return f"not JSON ({len(data)} bytes)"


def crash_rounds(launcher, mnt, image, env):
    """Four launches, each followed by a crash: the failures seen."""
    udd = os.path.join(mnt, "profile")
    os.makedirs(os.path.join(udd, "Default"))
    user = {f"setting_{i}": "the user's own value " * 8 for i in range(100)}
    with open(os.path.join(udd, "Default", "Preferences"), "w") as f:
        json.dump({"user": user, "intl": {"selected_languages": "en-GB,en"}}, f)
    failures = []
    for round in range(4):
        geolocation = round % 2 == 0  # set, then taken back, and so on
        with open(os.path.join(udd, "command-line.json"), "w") as f:
            json.dump({"auto-geo": 1} if geolocation else {}, f)
        os.sync()  # what stood before the launch is on the disk
        launch = subprocess.run([launcher, "--user-data-dir=" + udd], env=env, timeout=30,
                                capture_output=True)
        # The machine stops at once or once the journal has committed the launch's renames (the
        # data itself would follow only 30 s later): nothing more reaches the disk.
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
        preferences = read_json(os.path.join(udd, "Default", "Preferences"))
        if isinstance(preferences, str):
            return failures + [f"round {round}: Preferences {preferences} after the crash"]
        if preferences.get("user") != user:
            failures.append(f"round {round}: the user's settings are gone")
        block = preferences.get("profile", {}).get("default_content_setting_values", {})
        if (block.get("geolocation") == 2) != geolocation:
            failures.append(f"round {round}: the launch's geolocation setting is not on the disk: {block}")
        record = os.path.join(udd, "Quillon Persona Settings")
        if os.path.exists(record) and isinstance(read_json(record), str):
            failures.append(f"round {round}: the record is {read_json(record)}")
    return failures


def main():
    if os.geteuid() != 0:
        skip("needs root (a loop-mounted ext4 image)")
    if not shutil.which("mkfs.ext4"):
        skip("needs mkfs.ext4 (e2fsprogs)")
    if os.environ.get("QUILLON_IN_MOUNT_NS") != "1":  # the mount goes with the test's namespace
        try:
            os.execvpe("unshare", ["unshare", "-m", "--propagation", "private", sys.executable,
                                   *sys.argv], dict(os.environ, QUILLON_IN_MOUNT_NS="1"))
        except OSError as error:
            skip(f"needs unshare for a private mount namespace ({error})")
    work = tempfile.mkdtemp(prefix="quillon-crash-")
    image, mnt = os.path.join(work, "ext4.img"), os.path.join(work, "mnt")
    os.mkdir(mnt)
    with open(image, "wb") as f:
        f.truncate(64 << 20)
    try:
        run("mkfs.ext4", "-q", "-F", image)
        try:
            run(*MOUNT, image, mnt)
        except subprocess.CalledProcessError as error:
            skip("mount -o loop failed: " + error.stderr.decode(errors="replace").strip())
        env = {"HOME": work, "PATH": "/usr/bin:/bin", "QUILLON_ENGINE_KIND": "chromium",
               "QUILLON_ENGINE_BIN": "/bin/true"}
        failures = crash_rounds(os.path.abspath(sys.argv[1]), mnt, image, env)
        for failure in failures:
            print("FAIL", failure)
        print(f"4 crashes right after a launch, {len(failures)} failures")
        return 1 if failures else 0
    finally:
        subprocess.run(["umount", mnt], stderr=subprocess.DEVNULL)
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
