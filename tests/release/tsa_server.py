"""A time-stamp server for the release tests, on 127.0.0.1 only.

Answers RFC 3161 requests with `openssl ts -reply`, signed by the test's
throwaway time-stamping certificate. With --fail-after N it answers N
requests and fails every later one, as a server that breaks half-way does.

Usage: tsa_server.py PORT_FILE TSA_DIR [--fail-after N]
TSA_DIR holds tsa.pem, tsa.key, ca.pem and tsa.cnf.
"""
import argparse
import http.server
import os
import subprocess
import tempfile


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("port_file")
    parser.add_argument("tsa_dir")
    parser.add_argument("--fail-after", type=int, default=-1)
    options = parser.parse_args()
    answered = [0]

    class Handler(http.server.BaseHTTPRequestHandler):
        def do_POST(self):
            query = self.rfile.read(int(self.headers.get("Content-Length", 0)))
            if 0 <= options.fail_after <= answered[0]:
                self.send_error(503, "no more time stamps")
                return
            answered[0] += 1
            with tempfile.TemporaryDirectory() as work:
                request, reply = os.path.join(work, "q.tsq"), os.path.join(work, "r.tsr")
                with open(request, "wb") as out:
                    out.write(query)
                d = options.tsa_dir
                subprocess.run(["openssl", "ts", "-reply", "-config", os.path.join(d, "tsa.cnf"),
                                "-queryfile", request, "-signer", os.path.join(d, "tsa.pem"),
                                "-inkey", os.path.join(d, "tsa.key"), "-chain", os.path.join(d, "ca.pem"),
                                "-out", reply], check=True, capture_output=True)
                with open(reply, "rb") as answer:
                    body = answer.read()
            self.send_response(200)
            self.send_header("Content-Type", "application/timestamp-reply")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)

        def log_message(self, *_):
            pass

    server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
    with open(options.port_file + ".new", "w") as out:
        out.write(str(server.server_port))
    os.rename(options.port_file + ".new", options.port_file)
    server.serve_forever()


if __name__ == "__main__":
    main()
