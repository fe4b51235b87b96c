#!/usr/bin/env python3
"""nginx, configured from deploy/nginx/nimbrel.conf, before two nimbrel-service processes that share
one database on the throwaway PostgreSQL server of scripts/test-service.sh. Black box: the services
are seen only through their command line, configuration file and answers.

Usage: front_test.py CASE --service BINARY --source SERVICE_FOLDER
CASE: upload | limits | slow | stop. Exits 0 when the case holds, 1 when it does not, 77 (skipped,
the reason printed) without nginx, openssl or the PostgreSQL server.
"""
import argparse
import http.client
import importlib.util
import json
import os
import re
import select
import signal
import socket
import ssl
import subprocess
import sys
import tempfile
import threading
import time
import uuid
from pathlib import Path

SKIP = 77


class Skip(Exception):
    pass


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def load_throwaway(root):
    sys.dont_write_bytecode = True  # nothing written beside the sources
    found = importlib.util.spec_from_file_location("nginx_throwaway", root / "scripts" / "nginx-throwaway.py")
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    return module


def report_body(marker, padding=0):
    """A report in the program's shape whose page shows marker; padding adds that many more processes."""
    objects = [
        {"cate": "memory", "old": "1073741824", "new": "2147483648", "tot": "8589934592"},
        {"cate": "clean", "file": f"C:\\Program Files\\Helper\\{marker}.exe", "state": "-1"},
    ]
    objects += [{"cate": "clean", "file": f"C:\\Program Files\\Vendor{i % 90}\\app{i}.exe", "state": "1"}
                for i in range(padding)]
    objects.append({"cate": "start", "item": "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\\OneDrive",
                    "from": "HKCU"})
    return json.dumps(objects).encode()


def upload_key(status, body):
    """The key of a stored upload's answer, or None."""
    match = re.fullmatch(rb'\{"pk":"([^"]+)"\}', body) if status == 200 else None
    return match.group(1).decode() if match else None


# ---------------------------------------------------------------------------------------------------
# The set-up: a database, two services, nginx.

def psql_binary():
    found = sorted(Path("/usr/lib/postgresql").glob("*/bin/psql"), key=lambda p: [int(x) for x in re.findall(r"\d+", str(p))])
    return str(found[-1]) if found else "psql"


class Database:
    """A fresh database on the throwaway server, dropped at the end."""

    def __init__(self):
        server = os.environ.get("NIMBREL_TEST_POSTGRESQL", "")
        if not server:
            raise Skip(os.environ.get("NIMBREL_TEST_POSTGRESQL_SKIP") or
                       "NIMBREL_TEST_POSTGRESQL is not set (scripts/test-service.sh sets it)")
        self.server = server
        self.name = "nimbrel_front_" + uuid.uuid4().hex[:16]
        self.sql(f"CREATE DATABASE {self.name}")
        self.address = server[:server.rfind("/") + 1] + self.name

    def sql(self, text):
        done = subprocess.run([psql_binary(), "-X", "-q", "-v", "ON_ERROR_STOP=1", self.server, "-c", text],
                              capture_output=True, text=True)
        if done.returncode != 0:
            raise Skip(f"the PostgreSQL server refused {text!r}: {done.stderr.strip()}")

    def drop(self):
        try:
            self.sql(f"DROP DATABASE IF EXISTS {self.name} WITH (FORCE)")
        except Skip:
            pass


class Service:
    """One nimbrel-service process on a free loopback port."""

    def __init__(self, binary, config, data, database, folder, name):
        self.errors = folder / f"{name}.err"
        with open(self.errors, "wb") as errors:
            self.process = subprocess.Popen([binary, "--config", str(config), "--data", str(data), "--listen",
                                             "127.0.0.1", "--port", "0", "--database", database],
                                            stdout=subprocess.PIPE, stderr=errors)
        self.port = None
        line = b""
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline and not line.endswith(b"\n"):
            if select.select([self.process.stdout], [], [], 0.1)[0]:
                got = os.read(self.process.stdout.fileno(), 256)
                if not got:
                    break
                line += got
        match = re.search(rb":(\d+)/\s*$", line)
        if match:
            self.port = int(match.group(1))

    def error_text(self):
        return self.errors.read_text(errors="replace")

    def stop(self, number=signal.SIGTERM):
        if self.process.poll() is None:
            self.process.send_signal(number)
        try:
            return self.process.wait(10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            return self.process.wait()


class Front:
    """nginx before two services on one fresh database; close() stops everything."""

    def __init__(self, args, throwaway, **overrides):
        self.folder = Path(tempfile.mkdtemp(prefix="nimbrel-front-"))
        os.chmod(self.folder, 0o755)
        self.database = None
        self.services = []
        self.nginx = None
        try:
            self.database = Database()
            config = json.loads((args.source / "config.example.json").read_text(encoding="utf-8"))
            config.update(overrides)
            config_file = self.folder / "config.json"
            config_file.write_text(json.dumps(config, ensure_ascii=False), encoding="utf-8")
            for name in ("first", "second"):
                service = Service(args.service, config_file, args.source / "data", self.database.address,
                                  self.folder, name)
                self.services.append(service)
                if service.port is None:
                    raise Failure(f"the {name} service did not start: {service.error_text()}")
            nginx_folder = self.folder / "nginx"
            nginx_folder.mkdir()
            self.nginx = throwaway.Front(nginx_folder, [f"127.0.0.1:{s.port}" for s in self.services])
            self.context = ssl.create_default_context(cafile=str(self.nginx.ca))
        except BaseException:
            self.close()
            raise

    def request(self, method, path, body=None, source="127.0.0.1", headers=None, timeout=30):
        """(status, headers, body) of one request to nginx over HTTPS on a new connection from source."""
        connection = http.client.HTTPSConnection("127.0.0.1", self.nginx.port, context=self.context,
                                                 source_address=(source, 0), timeout=timeout)
        try:
            connection.request(method, path, body=body, headers=headers or {})
            answer = connection.getresponse()
            return answer.status, answer.headers, answer.read()
        except OSError as error:
            raise Failure(f"{method} {path} through nginx: no answer ({error!r})") from error
        finally:
            connection.close()

    def upload(self, marker, source="127.0.0.1", headers=None, padding=0):
        status, _, body = self.request("POST", "/report.php", report_body(marker, padding), source,
                                       {"Content-Type": "application/json", **(headers or {})})
        return status, upload_key(status, body)

    @staticmethod
    def direct(port, path):
        """(status, body) of a GET straight to a service."""
        connection = http.client.HTTPConnection("127.0.0.1", port, timeout=30)
        try:
            connection.request("GET", path)
            answer = connection.getresponse()
            return answer.status, answer.read()
        finally:
            connection.close()

    def diagnostics(self):
        text = ""
        for number, service in enumerate(self.services):
            text += f"\n--- service {number + 1} errors:\n{service.error_text()[-2000:]}"
        if self.nginx:
            text += f"\n--- nginx errors:\n{self.nginx.errors()[-2000:]}"
        return text

    def close(self):
        if self.nginx:
            self.nginx.stop()
        for service in self.services:
            service.stop(signal.SIGKILL)
        if self.database:
            self.database.drop()
        subprocess.run(["rm", "-rf", str(self.folder)])


def settings(uploads_per_minute=1000000):
    """The services' settings beside the example configuration's: nginx's address trusted, as the
    deployment wants, and two workers each, far fewer than the clients of the slow case."""
    return {"uploads_per_minute_per_address": uploads_per_minute, "threads": 2, "trusted_proxies": ["127.0.0.1"]}


# ---------------------------------------------------------------------------------------------------
# The cases.

def case_upload(args, throwaway):
    """An upload through nginx is readable through either service and through nginx; nginx takes
    reports up to the service's size and refuses larger ones itself; its log keeps no client."""
    with_front = Front(args, throwaway, **settings())
    try:
        keys = {}
        for marker in ("front-upload-a", "front-upload-b"):
            status, key = with_front.upload(marker, source="127.0.0.2", headers={"X-Forwarded-For": "203.0.113.9"})
            check(key is not None, f"upload through nginx answered {status}")
            keys[marker] = key
        for marker, key in keys.items():
            for number, service in enumerate(with_front.services):
                status, page = Front.direct(service.port, f"/?report={key}")
                check(status == 200 and marker.encode() in page,
                      f"service {number + 1} answered {status} for the report stored through nginx")
            status, headers, page = with_front.request("GET", f"/?report={key}", source="127.0.0.2")
            check(status == 200 and marker.encode() in page, f"the page through nginx answered {status}")
            check(headers.get("Strict-Transport-Security", "").startswith("max-age="),
                  f"no Strict-Transport-Security on the page: {dict(headers)}")

        # (padding, answer): a report just under the service's 4 MiB passes on; just over, nginx refuses.
        for padding, wanted in ((48000, 200), (50000, 413)):
            size = len(report_body("front-size", padding))
            status, key = with_front.upload("front-size", source="127.0.0.2", padding=padding)
            check(status == wanted, f"an upload of {size} bytes answered {status}, not {wanted}")

        # nginx writes a refused upload's line once the client has closed; 6 requests, 6 lines.
        deadline = time.monotonic() + 10
        while with_front.nginx.access_log().count("\n") < 6 and time.monotonic() < deadline:
            time.sleep(0.05)
        log = with_front.nginx.access_log()
        check(log.count("\n") == 6, f"nginx's access log does not have a line per request:\n{log}")
        for kept in ["127.0.0.2", "203.0.113.9", *keys.values()]:
            check(kept not in log, f"nginx's access log holds {kept}:\n{log}")
    except Failure as fault:
        raise Failure(str(fault) + with_front.diagnostics())
    finally:
        with_front.close()


def case_limits(args, throwaway):
    """Behind nginx, each client has its upload limit of its own, and a forged X-Forwarded-For does
    not give one a new limit."""
    limit = 3
    with_front = Front(args, throwaway, **settings(limit))
    try:
        # Each service counts on its own, and nginx takes turns: two refusals in a row mean both have
        # refused the client. Each upload claims another origin, which must not count.
        answers = []
        for number in range(4 * limit + 4):
            status, _ = with_front.upload(f"front-limit-{number}", source="127.0.0.2",
                                          headers={"X-Forwarded-For": f"198.51.100.{number + 1}"})
            answers.append(status)
            if answers[-2:] == [429, 429]:
                break
        check(answers[-2:] == [429, 429], f"the first client was never refused: {answers}")
        others = [with_front.upload(f"front-other-{number}", source="127.0.0.3")[0] for number in range(2)]
        check(others == [200, 200], f"a second client, right after the first was refused, answered {others}")
    except Failure as fault:
        raise Failure(str(fault) + with_front.diagnostics())
    finally:
        with_front.close()


class SlowClient:
    """A TLS connection to nginx that sends its request a byte at a time, never finishing."""

    def __init__(self, front, number):
        raw = socket.create_connection(("127.0.0.1", front.nginx.port), timeout=10)
        self.socket = front.context.wrap_socket(raw, server_hostname="127.0.0.1")
        if number % 2:
            # A complete header block announcing a body that never comes whole.
            self.socket.sendall(b"POST /report.php HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                                b"Content-Type: application/json\r\nContent-Length: 200000\r\n\r\n[")
            self.rest = b'{"cate":"memory"},' * 20000
        else:
            self.socket.sendall(b"GET /nimbrel HTTP/1.1\r\nHost: 127.0.0.1\r\n")
            self.rest = b"X-Slow: " + b"a" * 100000
        self.sent = 0

    def trickle(self):
        self.socket.sendall(self.rest[self.sent:self.sent + 1])
        self.sent += 1

    def held(self):
        """True while nginx neither answered nor closed the connection."""
        self.socket.setblocking(False)
        try:
            self.socket.recv(1024)  # an answer, or the end of the connection
            return False
        except ssl.SSLWantReadError:
            return True
        except OSError:
            return False
        finally:
            self.socket.setblocking(True)

    def close(self):
        self.socket.close()


def case_slow(args, throwaway):
    """64 slow clients at nginx (half of them sending headers, half a body, a byte every half second)
    while each service has two workers: a page and an upload are still answered, and the slow ones
    are still held."""
    with_front = Front(args, throwaway, **settings())
    clients, stop = [], threading.Event()
    try:
        status, key = with_front.upload("front-slow")
        check(key is not None, f"the first upload answered {status}")
        clients = [SlowClient(with_front, number) for number in range(64)]
        lock = threading.Lock()

        def trickle():
            while not stop.wait(0.5):
                with lock:
                    for client in clients:
                        try:
                            client.trickle()
                        except OSError:
                            pass
        sender = threading.Thread(target=trickle)
        sender.start()
        try:
            time.sleep(1.5)  # the slow bodies' first bytes are at nginx and would be at a service unbuffered
            # Generous bounds: an answer at all is the point, since a held worker would hold it forever.
            began = time.monotonic()
            status, _, page = with_front.request("GET", f"/?report={key}", timeout=20)
            check(status == 200 and b"front-slow" in page, f"the page answered {status} beside the slow clients")
            print(f"the page beside 64 slow clients: {(time.monotonic() - began) * 1000:.0f} ms")
            status, other = with_front.upload("front-slow-second")
            check(other is not None, f"an upload answered {status} beside the slow clients")
            with lock:
                held = sum(client.held() for client in clients)
            check(held >= 60, f"only {held} of 64 slow clients were still held")
        finally:
            stop.set()
            sender.join()
    except Failure as fault:
        raise Failure(str(fault) + with_front.diagnostics())
    finally:
        for client in clients:
            client.close()
        with_front.close()


def case_stop(args, throwaway):
    """Uploads keep coming through nginx while one service stops (SIGTERM, then a fresh set-up and
    SIGKILL): every answered upload is readable through the other service, and every upload begun
    after the stopped process has gone is answered. Then a service stopped while idle costs no
    upload."""
    for number in (signal.SIGTERM, signal.SIGKILL):
        with_front = Front(args, throwaway, **settings())
        try:
            outcomes, lock, stop = [], threading.Lock(), threading.Event()

            def upload_loop(sender):
                count = 0
                while not stop.is_set():
                    marker, began = f"front-stop-{sender}-{count}", time.monotonic()
                    count += 1
                    try:
                        status, key = with_front.upload(marker)
                    except Failure as error:
                        status, key = str(error), None
                    with lock:
                        outcomes.append((began, marker, status, key))
            senders = [threading.Thread(target=upload_loop, args=(sender,), daemon=True) for sender in range(4)]

            def wait_for(count, after):
                """Until count uploads begun at or after the time after have ended, or 30 s."""
                deadline = time.monotonic() + 30
                while time.monotonic() < deadline:
                    with lock:
                        if sum(began >= after for began, *_ in outcomes) >= count:
                            return
                    time.sleep(0.05)

            for sender in senders:
                sender.start()
            wait_for(12, 0)
            stopped_at = time.monotonic()
            exit_status = with_front.services[0].stop(number)
            # Once the process has gone, nginx has closed its kept-alive connections to it within a
            # moment: no request begun later meets a connection that fails after it was sent.
            settled_at = time.monotonic() + 0.5
            wait_for(12, settled_at)
            stop.set()
            for sender in senders:
                sender.join()
            name = signal.Signals(number).name
            if number == signal.SIGTERM:
                check(exit_status == 0, f"the service ended with {exit_status} after SIGTERM")

            answered = [(marker, key) for _, marker, _, key in outcomes if key]
            before = [began < stopped_at for began, _, _, key in outcomes if key]
            check(any(before) and not all(before), f"{name}: no uploads on both sides of the stop: {outcomes}")
            survivor = with_front.services[1].port
            for marker, key in answered:
                status, page = Front.direct(survivor, f"/?report={key}")
                check(status == 200 and marker.encode() in page,
                      f"{name}: the answered upload {marker} ({key}) reads {status} through the other service")
            late = [(marker, status) for began, marker, status, _ in outcomes if began >= settled_at]
            check(len(late) >= 12 and all(status == 200 for _, status in late),
                  f"{name}: uploads begun after the stopped service had gone: {late}")
            status, _, _ = with_front.request("GET", "/nimbrel")
            check(status == 200, f"{name}: the home page through nginx answered {status} after the stop")
            failed = [status for _, _, status, key in outcomes if not key]
            print(f"{name}: {len(answered)} uploads answered and readable; around the stop, failed: {failed}")
        except Failure as fault:
            raise Failure(str(fault) + with_front.diagnostics())
        finally:
            stop.set()
            with_front.close()

    # A service that stopped while nothing was sent to it costs no upload at all: one that cannot be
    # reached is never sent anything, so nginx tries the other, even for an upload.
    with_front = Front(args, throwaway, **settings())
    try:
        warm = [with_front.upload(f"front-idle-{number}")[0] for number in range(4)]
        check(warm == [200] * 4, f"uploads before the stop answered {warm}")
        with_front.services[0].stop(signal.SIGKILL)
        time.sleep(0.5)
        after = [with_front.upload(f"front-idle-after-{number}")[0] for number in range(6)]
        check(after == [200] * 6, f"uploads after a service stopped while idle answered {after}")
    except Failure as fault:
        raise Failure(str(fault) + with_front.diagnostics())
    finally:
        with_front.close()


CASES = {"upload": case_upload, "limits": case_limits, "slow": case_slow, "stop": case_stop}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("case", choices=sorted(CASES))
    parser.add_argument("--service", required=True)
    parser.add_argument("--source", required=True, type=Path)
    args = parser.parse_args()
    throwaway = load_throwaway(args.source.resolve().parent)
    try:
        reason = throwaway.missing()
        if reason:
            raise Skip(reason)
        CASES[args.case](args, throwaway)
    except Skip as reason:
        print(f"skipped: {reason}")
        return SKIP
    except Failure as fault:
        print(f"FAILED: {fault}")
        return 1
    print("passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
