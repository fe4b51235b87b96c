#!/usr/bin/env python3
"""A throwaway nginx in front of running services, configured from deploy/nginx/nimbrel.conf.

The shipped site is kept as it is but for what ties it to a machine: its listen addresses become
loopback ports, its upstream servers the given services, its certificate one made here for
127.0.0.1 and localhost, its logs files in the folder. Whatever else the site says (time-outs,
buffering, retries, headers, log format) is what runs. nginx runs in the foreground with its prefix,
configuration, pid file, temporary files and logs in the folder, as an unprivileged user when
started as root ("nobody"; the site has no "user" directive).

As a program, for the shell scripts:
  nginx-throwaway.py FOLDER --upstream HOST:PORT [--upstream HOST:PORT ...] [--port N] [--http-port N]
writes FOLDER/address (the HTTPS address) and FOLDER/ca.pem (the certificate to trust) and then
becomes nginx, so that its process id is nginx's master (SIGTERM stops it). Port 0 or none: a free
one. Exits 77 with the reason on standard error when nginx or openssl is not installed.
The service's tests import it.
"""
import argparse
import os
import pwd
import re
import shutil
import socket
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
SHIPPED_SITE = ROOT / "deploy" / "nginx" / "nimbrel.conf"
SKIP = 77


def nginx_binary():
    return shutil.which("nginx") or next((p for p in ("/usr/sbin/nginx",) if os.access(p, os.X_OK)), None)


def missing():
    """Why a throwaway cannot start here, or None."""
    if nginx_binary() is None:
        return "nginx is not installed (Debian's nginx package; scripts/bootstrap.sh installs it)"
    version = subprocess.run([nginx_binary(), "-v"], capture_output=True, text=True)
    if version.returncode != 0:
        return f"nginx does not run here: {version.stderr.strip()}"
    if shutil.which("openssl") is None:
        return "the openssl command is not installed (Debian's openssl package)"
    return None


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def make_certificate(folder):
    """A self-signed P-256 certificate for 127.0.0.1 and localhost: folder/ca.pem and folder/key.pem."""
    cert, key = folder / "ca.pem", folder / "key.pem"
    subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
                    "-days", "2", "-subj", "/CN=localhost", "-addext",
                    "subjectAltName=IP:127.0.0.1,DNS:localhost", "-keyout", str(key), "-out", str(cert)],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    return cert, key


DIRECTIVE = re.compile(r"^(\s*)([a-z_]+)\s+([^;#]*);(.*)$")


def site_config(shipped, https_port, http_port, upstreams, folder):
    """The shipped site's text with its machine's parts replaced; raises ValueError when one of them
    is not where it is expected, so that a changed site is never half applied."""
    out, seen = [], {"ssl listen": 0, "plain listen": 0, "upstream": 0, "certificate": 0, "key": 0,
                     "access log": 0}
    for line in shipped.splitlines():
        match = DIRECTIVE.match(line)
        if not match:
            out.append(line)
            continue
        indent, name, args, rest = match.groups()
        words = args.split()
        if name == "listen":
            if words[0].startswith("["):
                continue  # IPv6: the throwaway listens on IPv4 loopback only
            ssl = "ssl" in words[1:]
            seen["ssl listen" if ssl else "plain listen"] += 1
            line = f"{indent}listen 127.0.0.1:{https_port if ssl else http_port} {' '.join(words[1:])};".replace(" ;", ";")
        elif name == "server" and re.fullmatch(r"[^\s:]+:\d+", words[0]):
            seen["upstream"] += 1
            if seen["upstream"] > 1:
                continue  # the first upstream line's parameters stand for all
            line = "\n".join(f"{indent}server {' '.join([upstream] + words[1:])};" for upstream in upstreams)
        elif name == "ssl_certificate":
            seen["certificate"] += 1
            line = f"{indent}ssl_certificate {folder / 'ca.pem'};"
        elif name == "ssl_certificate_key":
            seen["key"] += 1
            line = f"{indent}ssl_certificate_key {folder / 'key.pem'};"
        elif name == "access_log" and words[0] != "off":
            seen["access log"] += 1
            line = f"{indent}{name} {' '.join([str(folder / 'access.log')] + words[1:])};"
        elif name == "error_log":
            line = f"{indent}{name} {' '.join([str(folder / 'error.log')] + words[1:])};"
        out.append(line)
    if not upstreams or any(count == 0 for count in seen.values()):
        raise ValueError(f"{SHIPPED_SITE} has changed: found {seen}")
    return "\n".join(out) + "\n"


def main_config(folder):
    """What Debian's /etc/nginx/nginx.conf gives a site, for a throwaway that owns only folder."""
    temp = folder / "temp"
    return f"""daemon off;
worker_processes 2;
pid {folder / 'nginx.pid'};
error_log {folder / 'error.log'} warn;
events {{ worker_connections 1024; }}
http {{
    client_body_temp_path {temp / 'body'};
    proxy_temp_path {temp / 'proxy'};
    fastcgi_temp_path {temp / 'fastcgi'};
    uwsgi_temp_path {temp / 'uwsgi'};
    scgi_temp_path {temp / 'scgi'};
    default_type application/octet-stream;
    include {folder / 'site.conf'};
}}
"""


def prepare(folder, upstreams, https_port=0, http_port=0):
    """Writes the certificate and the configuration into folder; answers (command, https_port) and
    leaves folder to the unprivileged user when running as root."""
    folder = Path(folder).resolve()
    https_port, http_port = https_port or free_port(), http_port or free_port()
    make_certificate(folder)
    (folder / "temp").mkdir(exist_ok=True)
    (folder / "site.conf").write_text(
        site_config(SHIPPED_SITE.read_text(encoding="utf-8"), https_port, http_port, upstreams, folder))
    (folder / "nginx.conf").write_text(main_config(folder))
    if os.getuid() == 0:
        nobody = pwd.getpwnam("nobody")
        for path in [folder, *folder.rglob("*")]:
            os.chown(path, nobody.pw_uid, nobody.pw_gid)
    command = [nginx_binary(), "-e", str(folder / "error.log"), "-p", str(folder), "-c", str(folder / "nginx.conf")]
    return command, https_port


def drop_privileges():
    """In the child, before nginx: root becomes nobody, with no supplementary groups."""
    if os.getuid() == 0:
        nobody = pwd.getpwnam("nobody")
        os.setgroups([])
        os.setgid(nobody.pw_gid)
        os.setuid(nobody.pw_uid)


def wait_listening(port, process=None, seconds=10):
    """True once 127.0.0.1:port takes connections; False when process ends or the time is up."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if process is not None and process.poll() is not None:
            return False
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return True
        except OSError:
            time.sleep(0.05)
    return False


class Front:
    """nginx as a child process of the caller; stop() ends it (also at exit of a with block)."""

    def __init__(self, folder, upstreams):
        self.folder = Path(folder).resolve()
        self.process = None
        for _ in range(3):  # a free port may be taken before nginx binds it
            command, self.port = prepare(self.folder, upstreams)
            self.process = subprocess.Popen(command, preexec_fn=drop_privileges, stdout=subprocess.DEVNULL,
                                            stderr=subprocess.DEVNULL)
            if wait_listening(self.port, self.process):
                return
            self.stop()
        raise RuntimeError(f"nginx did not start: {self.errors()[-2000:]}")

    @property
    def ca(self):
        return self.folder / "ca.pem"

    def errors(self):
        path = self.folder / "error.log"
        return path.read_text(errors="replace") if path.exists() else ""

    def access_log(self):
        path = self.folder / "access.log"
        return path.read_text(errors="replace") if path.exists() else ""

    def stop(self):
        if self.process is not None and self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.process = None

    def __enter__(self):
        return self

    def __exit__(self, *_):
        self.stop()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("folder")
    parser.add_argument("--upstream", action="append", required=True)
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--http-port", type=int, default=0)
    args = parser.parse_args()
    reason = missing()
    if reason:
        print(reason, file=sys.stderr)
        return SKIP
    command, port = prepare(args.folder, args.upstream, args.port, args.http_port)
    (Path(args.folder) / "address").write_text(f"https://127.0.0.1:{port}/\n")
    sys.stdout.flush()
    drop_privileges()
    os.execv(command[0], command)


if __name__ == "__main__":
    sys.exit(main())
