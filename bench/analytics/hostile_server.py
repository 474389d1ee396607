#!/usr/bin/env python3
"""A collection server that misbehaves, for exit-wait-bench.sh.

Usage: hostile_server.py MODE PORT_FILE
  silent   accepts and never answers
  trickle  answers "success" one byte a second, then keeps trickling
  endless  answers "success" and then a body that never ends, as fast as it can
Writes the port it listens on (127.0.0.1) to PORT_FILE and serves until killed.
"""
import socket
import sys
import threading
import time

mode, port_file = sys.argv[1], sys.argv[2]
listener = socket.socket()
listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
listener.bind(("127.0.0.1", 0))
listener.listen(16)
with open(port_file + ".tmp", "w") as out:
    out.write(str(listener.getsockname()[1]))
import os
os.rename(port_file + ".tmp", port_file)


def serve(connection):
    try:
        if mode == "silent":
            time.sleep(3600)
        connection.recv(65536)
        connection.sendall(b"HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\n")
        if mode == "trickle":
            for byte in b"success" + b"x" * 3600:
                connection.sendall(bytes([byte]))
                time.sleep(1)
        else:
            chunk = b"success" + b"x" * 65529
            while True:
                connection.sendall(chunk)
    except OSError:
        pass
    finally:
        connection.close()


while True:
    accepted, _ = listener.accept()
    threading.Thread(target=serve, args=(accepted,), daemon=True).start()
