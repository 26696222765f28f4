"""Parses a multipart/form-data body with werkzeug's decoder and prints its parts as JSON, in order.

Usage: parse_multipart.py CONTENT-TYPE BODY-FILE
Output: [{"kind": "field"|"file", "name": ..., "filename": ..., "headers": [[k, v], ...], "data": base64}, ...]
Exit status 3 when werkzeug is missing, 1 when the body is not a complete multipart body.
"""
import base64
import json
import sys

try:
    from werkzeug.http import parse_options_header
    from werkzeug.sansio.multipart import Data, Epilogue, Field, File, MultipartDecoder, NeedData, Preamble
except ImportError as error:
    print(f"werkzeug is not available: {error}", file=sys.stderr)
    sys.exit(3)


def main():
    content_type, options = parse_options_header(sys.argv[1])
    if content_type != "multipart/form-data" or "boundary" not in options:
        sys.exit(f"not a form: {sys.argv[1]}")
    with open(sys.argv[2], "rb") as f:
        body = f.read()

    decoder = MultipartDecoder(options["boundary"].encode("ascii"), max_form_memory_size=None)
    decoder.receive_data(body)
    decoder.receive_data(None)
    parts, chunks = [], []
    while True:
        event = decoder.next_event()
        if isinstance(event, NeedData):
            sys.exit("the body ends before its closing boundary")
        if isinstance(event, Preamble):
            continue
        if isinstance(event, (Field, File)):
            part = {"kind": "file" if isinstance(event, File) else "field", "name": event.name,
                    "filename": getattr(event, "filename", None), "headers": [list(h) for h in event.headers.items()]}
            parts.append(part)
            chunks = []
        elif isinstance(event, Data):
            chunks.append(event.data)
            if not event.more_data:
                parts[-1]["data"] = base64.b64encode(b"".join(chunks)).decode("ascii")
        elif isinstance(event, Epilogue):
            break
    json.dump(parts, sys.stdout)


main()
