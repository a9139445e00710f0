"""A speech daemon that answers the handshake like speech-dispatcher, then
streams an endless voice list (at most --limit bytes, so that a program that
keeps reading cannot take the machine's memory; the test counts it failed long
before that). It counts the lists asked for in --count-file.

    speech_fake_daemon.py SOCKET_PATH --count-file FILE"""

import argparse
import os
import socket
import threading


def serve(conn, args, counter):
    buffer = b""
    line = b"249-voice%07d\tcmn\tnone\r\n"
    with conn:
        while True:
            try:
                data = conn.recv(4096)
            except OSError:
                return
            if not data:
                return
            buffer += data
            while b"\r\n" in buffer:
                command, buffer = buffer.split(b"\r\n", 1)
                upper = command.upper()
                if upper.startswith(b"LIST SYNTHESIS_VOICES"):
                    with counter["lock"]:
                        counter["lists"] += 1
                        with open(args.count_file, "w") as f:
                            f.write(str(counter["lists"]))
                    sent = 0
                    n = 0
                    try:
                        while sent < args.limit:
                            chunk = b"".join(line % (n + k) for k in range(2000))
                            n += 2000
                            conn.sendall(chunk)
                            sent += len(chunk)
                    except OSError:
                        pass
                    return
                if upper.startswith(b"LIST OUTPUT_MODULES"):
                    conn.sendall(b"250-espeak-ng\r\n250 OK MODULE LIST SENT\r\n")
                elif upper.startswith(b"HISTORY GET CLIENT_ID"):
                    conn.sendall(b"245-1\r\n245 OK CLIENT ID SENT\r\n")
                elif upper == b"QUIT":
                    return
                else:
                    conn.sendall(b"200 OK\r\n")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("socket_path")
    parser.add_argument("--count-file", required=True)
    parser.add_argument("--limit", type=int, default=3 << 30)
    args = parser.parse_args()
    os.makedirs(os.path.dirname(args.socket_path), exist_ok=True)
    if os.path.exists(args.socket_path):
        os.unlink(args.socket_path)
    with open(args.count_file, "w") as f:
        f.write("0")
    counter = {"lock": threading.Lock(), "lists": 0}
    server = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    server.bind(args.socket_path)
    server.listen(16)
    while True:
        conn, _ = server.accept()
        threading.Thread(target=serve, args=(conn, args, counter), daemon=True).start()


if __name__ == "__main__":
    main()
