#!/usr/bin/python3
"""The relay's figures, side by side with microsocks alone (with its login) on loopback:
one bulk transfer, the connect latency the relay adds, the relay's memory with 500 tunnels,
and the launcher's own wall time with the relay against without it.
Usage: relay_bench.py LAUNCHER NULL_ENGINE [MIB] [RUNS]"""

import contextlib, os, pathlib, socket, statistics, subprocess, sys, tempfile, threading, time

LAUNCHER, NULL_ENGINE = sys.argv[1], sys.argv[2]
MIB = int(sys.argv[3]) if len(sys.argv) > 3 else 256
RUNS = int(sys.argv[4]) if len(sys.argv) > 4 else 300
USER, PASSWORD = "persona", "s3cret-pw"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def exact(sock, size):
    data = b""
    while len(data) < size and (chunk := sock.recv(size - len(data))):
        data += chunk
    return data


def sink():  # each message: 8 bytes of length N, N bytes; answered with one byte
    server = socket.create_server(("127.0.0.1", 0), backlog=1024)

    def serve(s):
        with s:
            while len(head := exact(s, 8)) == 8:
                left = int.from_bytes(head, "big")
                while left and (data := s.recv(min(left, 1 << 20))):
                    left -= len(data)
                s.sendall(b"!")
    threading.Thread(target=lambda: [threading.Thread(target=serve, args=(c,), daemon=True).start()
                                     for c, _ in iter(server.accept, None)], daemon=True).start()
    return server.getsockname()[1]


def socks(port, target_port, login):
    s = socket.create_connection(("127.0.0.1", port))
    s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    if login:
        s.sendall(b"\x05\x01\x02")
        assert exact(s, 2) == b"\x05\x02"
        s.sendall(b"\x01" + bytes([len(USER)]) + USER.encode() + bytes([len(PASSWORD)]) + PASSWORD.encode())
        assert exact(s, 2)[1] == 0
    else:
        s.sendall(b"\x05\x01\x00")
        assert exact(s, 2) == b"\x05\x00"
    s.sendall(b"\x05\x01\x00\x01\x7f\x00\x00\x01" + target_port.to_bytes(2, "big"))
    reply = exact(s, 10)
    assert reply[1] == 0, reply
    return s


def bulk(port, target, login):
    s = socks(port, target, login)
    block, start = bytes(1 << 20), time.perf_counter()
    s.sendall((MIB << 20).to_bytes(8, "big"))
    for _ in range(MIB):
        s.sendall(block)
    assert s.recv(1) == b"!"
    elapsed = time.perf_counter() - start
    s.close()
    return MIB / elapsed


def relay(work, proxy_port):
    """The launcher started with a persona whose proxy is microsocks with the login, and an
    engine that lingers: the relay's port and pid."""
    engine = pathlib.Path(work, "engine")
    engine.write_text('#!/bin/sh\necho $$ >"%s/pid"\nfor a; do echo "$a"; done >"%s/args"\n'
                      'exec sleep 600\n' % (work, work))
    engine.chmod(0o755)
    profile = pathlib.Path(work, "profile")
    profile.mkdir(exist_ok=True)
    (profile / "command-line.json").write_text(
        '{"proxy-server":"socks5://%s:%s@127.0.0.1:%d"}' % (USER, PASSWORD, proxy_port))
    env = dict(os.environ, QUILLON_ENGINE_KIND="chromium", QUILLON_ENGINE_BIN=str(engine))
    subprocess.run([LAUNCHER, "--user-data-dir=%s" % profile], env=env, check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    for _ in range(200):
        args = pathlib.Path(work, "args")
        if args.exists() and "--proxy-server" in args.read_text():
            break
        time.sleep(0.01)
    switch = next(a for a in pathlib.Path(work, "args").read_text().split() if a.startswith("--proxy"))
    port = int(switch.rsplit(":", 1)[1])
    pids = [int(p.name) for p in pathlib.Path("/proc").glob("[0-9]*") if (p / "cmdline").exists()
            and (p / "cmdline").read_bytes() == b"quillon-launcher-relay\0"]
    return port, max(pids)


def wall_ms(persona_dir, env):
    start = time.perf_counter_ns()
    pid = os.posix_spawn(LAUNCHER, [LAUNCHER, "--user-data-dir=" + persona_dir], env)
    os.waitpid(pid, 0)
    return (time.perf_counter_ns() - start) / 1e6


def main():
    target, proxy_port = sink(), free_port()
    proxy = subprocess.Popen(["microsocks", "-i", "127.0.0.1", "-p", str(proxy_port), "-u", USER,
                              "-P", PASSWORD], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    with tempfile.TemporaryDirectory(prefix="quillon-relay-bench-") as work:
        try:
            time.sleep(0.3)
            port, pid = relay(work, proxy_port)
            # One bulk transfer each way round, alternating, three times.
            rates = {"alone": [], "relay": []}
            for _ in range(3):
                rates["alone"].append(bulk(proxy_port, target, True))
                rates["relay"].append(bulk(port, target, False))
            alone, relayed = statistics.median(rates["alone"]), statistics.median(rates["relay"])
            print("bulk %d MiB: microsocks alone %.0f MiB/s, relay + microsocks %.0f MiB/s, "
                  "ratio %.3f" % (MIB, alone, relayed, relayed / alone))
            # Connect to a ready tunnel (one byte there and back), alternating.
            times = {"alone": [], "relay": []}
            for i in range(RUNS * 2):
                which, p, login = ("alone", proxy_port, True) if i % 2 else ("relay", port, False)
                start = time.perf_counter()
                s = socks(p, target, login)
                s.sendall(bytes(8))
                exact(s, 1)
                times[which].append((time.perf_counter() - start) * 1000)
                s.close()
            added = [r - a for r, a in zip(sorted(times["relay"]), sorted(times["alone"]))]
            q = lambda values, f: sorted(values)[int(f * (len(values) - 1))]
            print("connect to a ready tunnel (ms): alone median %.3f p99 %.3f; relay median %.3f "
                  "p99 %.3f; added median %.3f p99 %.3f" % (
                      q(times["alone"], .5), q(times["alone"], .99), q(times["relay"], .5),
                      q(times["relay"], .99), q(times["relay"], .5) - q(times["alone"], .5),
                      q(added, .99)))
            tunnels = [socks(port, target, False) for _ in range(500)]
            rss = next(int(l.split()[1]) for l in open("/proc/%d/status" % pid) if l.startswith("VmRSS"))
            hwm = next(int(l.split()[1]) for l in open("/proc/%d/status" % pid) if l.startswith("VmHWM"))
            print("500 tunnels: relay RSS %.2f MiB (peak %.2f MiB)" % (rss / 1024, hwm / 1024))
            for s in tunnels:
                s.close()
            os.kill(pid, 15)
        finally:
            proxy.kill()
            with contextlib.suppress(OSError, ValueError):  # the lingering engine of this run
                os.kill(int(pathlib.Path(work, "pid").read_text()), 9)
        # The launcher's wall time: a proxy with a login (relay) against one without.
        walls = {}
        for name, proxy_url in (("relay", "socks5://u:p@127.0.0.1:9"), ("plain", "socks5://127.0.0.1:9")):
            d = pathlib.Path(work, name)
            d.mkdir()
            (d / "command-line.json").write_text('{"proxy-server":"%s"}' % proxy_url)
            walls[name] = (str(d), [])
        env = dict(os.environ, QUILLON_ENGINE_KIND="chromium", QUILLON_ENGINE_BIN=NULL_ENGINE)
        for i in range(RUNS * 2):
            name = "relay" if i % 2 else "plain"
            walls[name][1].append(wall_ms(walls[name][0], env))
        relay_ms, plain_ms = (statistics.median(walls[n][1]) for n in ("relay", "plain"))
        print("launcher wall time median: with the relay %.3f ms, without %.3f ms, %.3f ms more"
              % (relay_ms, plain_ms, relay_ms - plain_ms))


if __name__ == "__main__":
    main()
