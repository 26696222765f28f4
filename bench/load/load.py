#!/usr/bin/python3
"""Load benchmark of unplotd: N clients at once, each uploading a PDF, polling the queue once a second and
downloading the archive, against one node or several nodes on one PostgreSQL database.

    bench/load/load.py                                   # 8 clients x 3 jobs against one node (SQLite)
    bench/load/load.py --nodes 3 --database postgresql://USER@127.0.0.1:5432/unplot
    bench/load/load.py --nodes 3 --postgres              # the same on a throwaway PostgreSQL started here
    bench/load/load.py --upload-mb 250                   # peak memory of one node under one 250 MB upload

Prints jobs per minute, poll latency (p50, p99), each node's peak resident memory and the errors (goal: 0).
The nodes are started here (build/bin/unplotd unless --unplotd), each with a data folder of its own, and
stopped at the end. With several nodes, each job is uploaded to one node and polled and downloaded through the
next, so that every answer crosses nodes.
"""
import argparse
import http.client
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import uuid
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent.parent


def kib(pid, field):
    for line in Path(f"/proc/{pid}/status").read_text().splitlines():
        if line.startswith(field + ":"):
            return int(line.split()[1])
    return 0


class Node:
    def __init__(self, args, folder, index):
        self.log = open(folder / f"node{index}.log", "w+")
        command = [args.unplotd, "--listen", "127.0.0.1:0", "--data", str(folder / f"node{index}")]
        if args.database:
            command += ["--database", args.database]
        if args.upload_mb:
            command += ["--max-upload-mb", str(args.upload_mb + 16)]
        self.process = subprocess.Popen(command + args.extra, stderr=self.log)
        for _ in range(300):
            self.log.seek(0)
            found = re.search(r"listening on http://127\.0\.0\.1:(\d+)", self.log.read())
            if found:
                self.port = int(found[1])
                return
            if self.process.poll() is not None:
                break
            time.sleep(0.1)
        sys.exit(f"node {index} did not start: see {self.log.name}")

    def stop(self):
        self.process.send_signal(signal.SIGTERM)
        self.process.wait(60)


def request(port, method, target, body=None, headers=None):
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=120)
    try:
        connection.request(method, target, body=body, headers=headers or {})
        response = connection.getresponse()
        return response.status, response.read()
    finally:
        connection.close()


def upload(port, pdf):
    """Streams the form from the file: the client's memory stays small whatever the size."""
    boundary = uuid.uuid4().hex
    head = (f"--{boundary}\r\nContent-Disposition: form-data; name=\"convertData\"; filename=\"convert.pdf\"\r\n"
            f"Content-Type: application/pdf\r\n\r\n").encode()
    tail = "".join(f"\r\n--{boundary}\r\nContent-Disposition: form-data; name=\"{name}\"\r\n\r\n{value}"
                   for name, value in (("drp_Type", "0"), ("txt_Page", "-1"), ("drp_Version", "14")))
    tail = (tail + f"\r\n--{boundary}--\r\n").encode()
    size = os.path.getsize(pdf)

    def body():
        yield head
        with open(pdf, "rb") as f:
            while chunk := f.read(1 << 20):
                yield chunk
        yield tail
    return request(port, "POST", "/include/ajax.aspx?op=mac_upload", body(),
                   {"Content-Type": f"multipart/form-data; boundary={boundary}",
                    "Content-Length": str(len(head) + size + len(tail))})


class Client(threading.Thread):
    def __init__(self, index, args, nodes, results):
        super().__init__()
        self.index, self.args, self.nodes, self.results = index, args, nodes, results

    def run(self):
        for job in range(self.args.jobs):
            first = (self.index + job) % len(self.nodes)
            there, other = self.nodes[first].port, self.nodes[(first + 1) % len(self.nodes)].port
            try:
                status, reply = upload(there, self.args.pdf)
                if status != 200:
                    raise RuntimeError(f"upload: HTTP {status} {reply[:200]!r}")
                file_id = json.loads(reply)["fileId"]
                while True:
                    time.sleep(1)
                    began = time.monotonic()
                    status, reply = request(other, "GET", f"/include/ajax.aspx?op=GetConvertQueue&fileId={file_id}")
                    self.results["polls"].append(time.monotonic() - began)
                    state = json.loads(reply)
                    if status != 200 or state.get("status") not in (10, 20):
                        break
                if state.get("status") not in (100, 101):
                    raise RuntimeError(f"job {file_id} ended with {state}")
                status, archive = request(there, "GET", state["result"])
                if status != 200 or not archive.startswith(b"PK"):
                    raise RuntimeError(f"download of {file_id}: HTTP {status}")
                self.results["jobs"] += 1
            except Exception as error:  # counted and shown, the run goes on
                self.results["errors"].append(str(error))


def big_pdf(path, megabytes):
    """A one-page drawing carrying `megabytes` of filler in an object no page uses."""
    content = b"0 0 m 100 100 l S"
    filler = os.urandom(1 << 20) * megabytes
    objects = [b"<< /Type /Catalog /Pages 2 0 R >>", b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
               b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] /Contents 4 0 R >>",
               b"<< /Length %d >>\nstream\n%s\nendstream" % (len(content), content),
               b"<< /Length %d >>\nstream\n%s\nendstream" % (len(filler), filler)]
    data, offsets = b"%PDF-1.7\n", []
    for number, body in enumerate(objects, 1):
        offsets.append(len(data))
        data += b"%d 0 obj\n%s\nendobj\n" % (number, body)
    xref = b"xref\n0 %d\n0000000000 65535 f \n" % (len(objects) + 1) + b"".join(b"%010d 00000 n \n" % o for o in offsets)
    path.write_bytes(data + xref + b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n"
                     % (len(objects) + 1, len(data)))


def throwaway_postgres(folder):
    """initdb and pg_ctl (Debian's postgresql) into `folder` on a free port, as nobody when run as root."""
    import glob
    import pwd
    import socket
    bins = sorted(glob.glob("/usr/lib/postgresql/*/bin/pg_ctl"))
    if not bins:
        sys.exit("--postgres needs Debian's postgresql")
    bin_dir, data = Path(bins[-1]).parent, folder / "pg"
    data.mkdir()
    as_user = []
    if os.getuid() == 0:
        nobody = pwd.getpwnam("nobody")
        os.chown(folder, nobody.pw_uid, nobody.pw_gid)
        os.chown(data, nobody.pw_uid, nobody.pw_gid)
        as_user = ["runuser", "-u", "nobody", "--"]
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        port = s.getsockname()[1]
    subprocess.run(as_user + [bin_dir / "initdb", "-A", "trust", "-U", "unplot", "--no-sync", "-D", data / "db"],
                   check=True, stdout=subprocess.DEVNULL)
    subprocess.run(as_user + [bin_dir / "pg_ctl", "-s", "-w", "-D", data / "db", "-l", data / "log", "-o",
                              f"-c listen_addresses=127.0.0.1 -p {port} -k {data} -c max_connections=300", "start"],
                   check=True)
    return f"postgresql://unplot@127.0.0.1:{port}/postgres", as_user + [bin_dir / "pg_ctl", "-s", "-D", data / "db",
                                                                       "-m", "fast", "stop"]


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--clients", type=int, default=8)
    parser.add_argument("--jobs", type=int, default=3, help="jobs per client")
    parser.add_argument("--nodes", type=int, default=1)
    parser.add_argument("--database", help="postgresql://... shared by the nodes (default: SQLite, one node)")
    parser.add_argument("--postgres", action="store_true", help="start a throwaway PostgreSQL for the nodes")
    parser.add_argument("--pdf", default=str(ROOT / "examples" / "flange-plate.pdf"))
    parser.add_argument("--unplotd", default=str(ROOT / "build" / "bin" / "unplotd"))
    parser.add_argument("--upload-mb", type=int, help="instead: one upload of this size, the node's memory")
    parser.add_argument("extra", nargs="*", help="further unplotd options, after --")
    args = parser.parse_args()
    if args.nodes > 1 and not (args.database or args.postgres):
        sys.exit("several nodes need --database or --postgres")

    folder = Path(tempfile.mkdtemp(prefix="unplot-load-"))
    nodes, stop_postgres = [], None
    try:
        if args.postgres:
            args.database, stop_postgres = throwaway_postgres(folder)
        nodes = [Node(args, folder, i) for i in range(args.nodes)]
        if args.upload_mb:
            args.pdf = folder / "big.pdf"
            big_pdf(args.pdf, args.upload_mb)
            time.sleep(1)
            pid = nodes[0].process.pid
            idle = kib(pid, "VmRSS")
            began = time.monotonic()
            status, reply = upload(nodes[0].port, args.pdf)
            seconds = time.monotonic() - began
            peak = kib(pid, "VmHWM")
            print(f"upload of {args.upload_mb} MB: HTTP {status} {reply.decode(errors='replace')} in {seconds:.1f} s")
            print(f"unplotd resident memory: idle {idle / 1024:.1f} MB, peak {peak / 1024:.1f} MB, "
                  f"{(peak - idle) / 1024:.1f} MB above idle (goal: at most 64)")
            return
        results = {"jobs": 0, "polls": [], "errors": []}
        clients = [Client(i, args, nodes, results) for i in range(args.clients)]
        began = time.monotonic()
        for c in clients:
            c.start()
        for c in clients:
            c.join()
        minutes = (time.monotonic() - began) / 60
        polls = sorted(results["polls"]) or [0]
        print(f"{args.nodes} node(s), {args.clients} clients x {args.jobs} jobs of {Path(args.pdf).name}: "
              f"{results['jobs']} done in {minutes * 60:.1f} s, {results['jobs'] / minutes:.1f} jobs/min")
        print(f"poll latency: p50 {polls[len(polls) // 2] * 1000:.1f} ms, p99 {polls[int(len(polls) * 0.99)] * 1000:.1f} ms"
              f" ({len(polls)} polls)")
        for i, node in enumerate(nodes):
            print(f"node {i}: peak resident memory {kib(node.process.pid, 'VmHWM') / 1024:.1f} MB")
        print(f"errors: {len(results['errors'])}" + "".join(f"\n  {e}" for e in results["errors"][:10]))
    finally:
        for node in nodes:
            node.stop()
        if stop_postgres:
            subprocess.run(stop_postgres)
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
