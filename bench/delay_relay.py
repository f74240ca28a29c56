#!/usr/bin/env python3
"""A TCP relay that holds every segment it passes for half a round trip in
each direction, so that a client behind it sees the file server as if it
were a slow link away (for kernels without netem).

    delay_relay.py LISTEN_HOST LISTEN_PORT TARGET_HOST TARGET_PORT ROUND_TRIP_MS

Each direction of a connection has a reader, which stamps what it receives
with the time it may leave, and a writer, which sleeps until then; so the
delay is added once per segment, however many are on their way, and the
order of the bytes is kept. It prints "listening" once it accepts
connections and runs until it is ended."""

import queue
import socket
import sys
import threading
import time


def pipe(source, target, hold):
    """Copies one direction of a connection, each segment `hold` seconds late."""
    pending = queue.Queue()

    def send():
        while True:
            due, data = pending.get()
            if data is None:
                break
            pause = due - time.monotonic()
            if pause > 0:
                time.sleep(pause)
            try:
                target.sendall(data)
            except OSError:
                break
        try:
            target.shutdown(socket.SHUT_WR)
        except OSError:
            pass

    writer = threading.Thread(target=send, daemon=True)
    writer.start()
    while True:
        try:
            data = source.recv(1 << 20)
        except OSError:
            data = b""
        if not data:
            break
        pending.put((time.monotonic() + hold, data))
    pending.put((0, None))
    writer.join()


def serve(client, target, hold):
    try:
        server = socket.create_connection(target)
    except OSError:
        client.close()
        return
    for end in (client, server):
        end.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    back = threading.Thread(target=pipe, args=(server, client, hold), daemon=True)
    back.start()
    pipe(client, server, hold)
    back.join()
    client.close()
    server.close()


def main():
    if len(sys.argv) != 6:
        sys.exit(__doc__)
    listen = (sys.argv[1], int(sys.argv[2]))
    target = (sys.argv[3], int(sys.argv[4]))
    hold = float(sys.argv[5]) / 2000.0
    listener = socket.create_server(listen, reuse_port=False)
    print("listening", flush=True)
    while True:
        client, _ = listener.accept()
        threading.Thread(target=serve, args=(client, target, hold), daemon=True).start()


if __name__ == "__main__":
    main()
