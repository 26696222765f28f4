#!/usr/bin/python3
"""A scripted stand-in for the conversion service, for the front-end and window tests.

Listens on 127.0.0.1 on a free port and prints "PORT <n>" as its first line. What it does with a job is written in
the uploaded PDF itself, as "SCENARIO:<name>" anywhere in the file (default "ok"):

  ok        accepted; the first queue poll reports the result ready
  wait<N>   accepted; N polls report the file waiting (num N..1), then the result is ready
  reject    the upload is refused: {"result":"20","message":"The file is not a PDF drawing."}
  fail      accepted; the first poll reports status 30 (failed)
  dlfail    accepted and ready, but the download connection is closed without a reply
  slow      accepted; every poll reports the file waiting

The downloaded "archive" is b"PK" followed by the form fields as JSON, so tests can check what was sent.
Each request is logged on standard error as "REQ <method> <path>".
"""
import json
import re
import sys
import threading
import uuid
from email import policy
from email.parser import BytesParser
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import parse_qs, urlparse

JOBS = {}
LOCK = threading.Lock()


def parse_form(content_type, body):
    message = BytesParser(policy=policy.HTTP).parsebytes(
        b"Content-Type: " + content_type.encode("latin-1") + b"\r\n\r\n" + body)
    fields = {}
    for part in message.iter_parts():
        name = part.get_param("name", header="content-disposition")
        fields[name] = {"data": part.get_payload(decode=True) or b"", "filename": part.get_filename(),
                        "content_type": part.get_content_type() if part.get("Content-Type") else None}
    return fields


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, fmt, *args):
        pass

    def reply_json(self, value):
        body = json.dumps(value).encode()
        self.send_response(200)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log(self):
        sys.stderr.write("REQ %s %s\n" % (self.command, self.path))
        sys.stderr.flush()

    def do_POST(self):
        self.log()
        query = parse_qs(urlparse(self.path).query)
        length = int(self.headers.get("Content-Length", "0"))
        body = self.rfile.read(length)
        if query.get("op") != ["mac_upload"]:
            self.send_error(404)
            return
        fields = parse_form(self.headers.get("Content-Type", ""), body)
        pdf = fields.get("convertData", {}).get("data", b"")
        match = re.search(rb"SCENARIO:(\w+)", pdf)
        scenario = match.group(1).decode() if match else "ok"
        if scenario == "reject":
            self.reply_json({"result": "20", "message": "The file is not a PDF drawing."})
            return
        waits = 0
        if scenario.startswith("wait"):
            waits = int(scenario[4:] or "1")
        file_id = uuid.uuid4().hex
        sent = {name: value["data"].decode("utf-8", "replace") for name, value in fields.items()
                if name != "convertData"}
        sent["fileName"] = fields.get("convertData", {}).get("filename")
        with LOCK:
            JOBS[file_id] = {"scenario": scenario, "waits": waits, "fields": sent}
        self.reply_json({"result": "10", "fileId": file_id})

    def do_GET(self):
        self.log()
        url = urlparse(self.path)
        query = parse_qs(url.query)
        if url.path == "/include/ajax.aspx" and query.get("op") == ["GetConvertQueue"]:
            with LOCK:
                job = JOBS.get(query.get("fileId", [""])[0])
                if job is None:
                    self.reply_json({"num": -2, "status": 0, "result": ""})
                    return
                scenario = job["scenario"]
                if scenario == "fail":
                    self.reply_json({"num": 0, "status": 30, "result": ""})
                    return
                if scenario == "slow" or job["waits"] > 0:
                    num = 1 if scenario == "slow" else job["waits"]
                    job["waits"] -= 1
                    self.reply_json({"num": num, "status": 10, "result": ""})
                    return
            file_id = query["fileId"][0]
            self.reply_json({"num": 0, "status": 100, "result": "/download/%s.zip" % file_id})
            return
        match = re.fullmatch(r"/download/([0-9a-f]+)\.zip", url.path)
        with LOCK:
            job = JOBS.get(match.group(1)) if match else None
        if job is None:
            self.send_error(404)
            return
        if job["scenario"] == "dlfail":
            self.close_connection = True
            self.connection.shutdown(2)
            return
        body = b"PK" + json.dumps(job["fields"], sort_keys=True).encode()
        self.send_response(200)
        self.send_header("Content-Type", "application/zip")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)


def main():
    server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    print("PORT %d" % server.server_address[1], flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()
