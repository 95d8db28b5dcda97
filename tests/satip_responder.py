#!/usr/bin/env python3
"""A small SAT>IP 1.2.2 responder for the SAT>IP card library's tests: one
tuner that answers as the widely used servers do where they differ, chosen by
options. It streams numbered packets (PID 0x100, the packet's number in its
first and last payload bytes, the continuity counter counting on), so that a capture
shows every packet lost, doubled or out of order; 7 packets a datagram.

  --ro35             SES1 writes ro=35 (as some servers do), not ro=0.35
  --busy-freq MHZ    a tune there finds no free tuner: answered --busy-status
  --busy-status N    404 (as some servers answer) or 503
  --timeout S        the Session timeout given (and kept: a session not kept
                     alive for S seconds ends, its stream stops)
  --rtcp MODE        every 200 ms (normal), late (the first after 3 s), none
  --tcp-only         SETUP answers 461 to RTP over UDP; only
                     RTP/AVP/TCP;interleaved=0-1 is taken
  --vanish-after S   S seconds after the first PLAY the responder is gone:
                     every socket closed at once, the process ended
  --ssdp             answers M-SEARCH on 239.255.255.250:1900 (only inside a
                     network namespace of the test's own)
  --rate MBIT        the stream's rate (default 4)

It writes its RTSP and HTTP ports to --ports FILE once it listens, and a line
for every request to --log FILE ("PLAY rtsp://.../stream=1?src=2&... Session=...").
"""
import argparse
import asyncio
import os
import socket
import struct
import time
import urllib.parse

PACKET = 188
PER_DATAGRAM = 7


def packet(number):
    head = bytes([0x47, 0x01, 0x00, 0x10 | (number & 0x0F)])
    return head + struct.pack(">Q", number) + bytes(PACKET - 20) + struct.pack(">Q", number)


class Tuner:
    def __init__(self, args):
        self.args = args
        self.log = open(args.log, "a", buffering=1) if args.log else None
        self.sessions = {}  # id -> Session
        self.next_stream = 1
        self.played = None  # when the first PLAY came
        self.number = 0  # the next packet's number

    def note(self, line):
        if self.log:
            self.log.write(line + "\n")


class Session:
    def __init__(self, tuner, sid, writer):
        self.id = sid
        self.stream = tuner.next_stream
        tuner.next_stream += 1
        self.writer = writer  # the RTSP connection, for interleaved frames
        self.udp = None  # (address, rtp port, rtcp port)
        self.query = {}
        self.playing = False
        self.sequence = 0
        self.seen = time.monotonic()
        self.ssrc = 0x5A7E0000 + self.stream
        self.http = False

    def status(self, args):
        q = self.query
        ro = "35" if args.ro35 else "0.35"
        return ("ver=1.0;src=%s;tuner=1,224,1,15,%s,%s,%s,qpsk,off,%s,%s,%s;pids=all" %
                (q.get("src", "1"), q.get("freq", ""), q.get("pol", ""), q.get("msys", "dvbs"),
                 ro, q.get("sr", ""), q.get("fec", "")))


def rtp(session, payload):
    session.sequence = (session.sequence + 1) & 0xFFFF
    stamp = int(time.monotonic() * 90000) & 0xFFFFFFFF
    return struct.pack(">BBHII", 0x80, 33, session.sequence, stamp, session.ssrc) + payload


def rtcp(session, args):
    text = session.status(args).encode()
    data = struct.pack(">HH", 0, len(text)) + text
    data += bytes(-len(data) % 4)
    sr = struct.pack(">BBHIIIIII", 0x80, 200, 6, session.ssrc, 0, 0, 0, 0, 0)
    app = struct.pack(">BBHI", 0x80, 204, (12 + len(data)) // 4 - 1, session.ssrc) + b"SES1" + data
    return sr + app


def answer(writer, status, cseq, headers=(), body=""):
    reasons = {200: "OK", 404: "Not Found", 454: "Session Not Found", 461: "Unsupported Transport",
               503: "Service Unavailable", 400: "Bad Request"}
    lines = ["RTSP/1.0 %d %s" % (status, reasons.get(status, "Status")), "CSeq: %s" % cseq]
    lines += list(headers)
    if body:
        lines += ["Content-Type: application/sdp", "Content-Length: %d" % len(body)]
    writer.write(("\r\n".join(lines) + "\r\n\r\n" + body).encode())


async def handle_rtsp(tuner, reader, writer):
    args = tuner.args
    peer = writer.get_extra_info("peername")[0]
    buffered = b""
    try:
        while True:
            while b"\r\n\r\n" not in buffered:
                more = await reader.read(4096)
                if not more:
                    return
                buffered += more
            head, buffered = buffered.split(b"\r\n\r\n", 1)
            lines = head.decode(errors="replace").split("\r\n")
            method, uri, _ = lines[0].split(" ", 2)
            headers = {}
            for line in lines[1:]:
                name, _, value = line.partition(":")
                headers[name.strip().lower()] = value.strip()
            cseq = headers.get("cseq", "0")
            sid = headers.get("session", "").split(";")[0]
            tuner.note("%s %s Session=%s Transport=%s" %
                       (method, uri, sid, headers.get("transport", "")))
            url = urllib.parse.urlsplit(uri)
            query = dict(urllib.parse.parse_qsl(url.query))
            session = tuner.sessions.get(sid)
            if session:
                session.seen = time.monotonic()
            if sid and not session and method != "OPTIONS":
                answer(writer, 454, cseq)
            elif method == "OPTIONS":
                answer(writer, 454 if sid and not session else 200, cseq,
                       ["Public: OPTIONS, DESCRIBE, SETUP, PLAY, TEARDOWN"])
            elif query.get("freq") and query["freq"].split(".")[0] == args.busy_freq:
                answer(writer, args.busy_status, cseq)
            elif method == "SETUP":
                transport = headers.get("transport", "")
                tcp = "RTP/AVP/TCP" in transport.upper()
                if args.tcp_only and not tcp:
                    answer(writer, 461, cseq)
                else:
                    session = Session(tuner, "%08x" % (0x1A2B3C00 + tuner.next_stream), writer)
                    session.query = query
                    if tcp:
                        reply = "RTP/AVP/TCP;unicast;interleaved=0-1"
                    else:
                        ports = transport.split("client_port=")[1].split(";")[0].split("-")
                        session.udp = (peer, int(ports[0]), int(ports[1]))
                        reply = "RTP/AVP;unicast;client_port=%s-%s" % tuple(ports)
                    tuner.sessions[session.id] = session
                    answer(writer, 200, cseq, ["Session: %s;timeout=%d" % (session.id, args.timeout),
                                               "Transport: " + reply,
                                               "com.ses.streamID: %d" % session.stream])
            elif method == "PLAY" and session:
                if query:
                    session.query = query
                session.playing = True
                if tuner.played is None:
                    tuner.played = time.monotonic()
                answer(writer, 200, cseq, ["Session: " + session.id])
            elif method == "DESCRIBE":
                media = "".join("m=video 0 RTP/AVP 33\r\na=control:stream=%d\r\na=fmtp:33 %s\r\n" %
                                (s.stream, s.status(args)) for s in tuner.sessions.values())
                body = "v=0\r\no=- 1 1 IN IP4 127.0.0.1\r\ns=SatIPServer:1 1\r\nt=0 0\r\n" + media
                answer(writer, 200 if media else 404, cseq, [], body if media else "")
            elif method == "TEARDOWN" and session:
                del tuner.sessions[session.id]
                answer(writer, 200, cseq, ["Session: " + session.id])
            else:
                answer(writer, 400, cseq)
            await writer.drain()
    except (ConnectionError, ValueError, IndexError):
        return
    finally:
        for session in list(tuner.sessions.values()):
            if session.writer is writer and session.udp is None and not session.http:
                del tuner.sessions[session.id]
        writer.close()


async def stream(tuner, udp):
    args = tuner.args
    per_second = args.rate * 1e6 / 8 / PACKET
    start = time.monotonic()
    last_rtcp = 0.0
    while True:
        await asyncio.sleep(0.01)
        now = time.monotonic()
        if args.vanish_after and tuner.played and now - tuner.played > args.vanish_after:
            tuner.note("vanishing")
            os._exit(0)
        for session in list(tuner.sessions.values()):
            if now - session.seen > args.timeout and not session.http:
                tuner.note("session %s timed out" % session.id)
                del tuner.sessions[session.id]
        due = int((now - start) * per_second)
        sending = [s for s in tuner.sessions.values() if s.playing]
        while tuner.number + PER_DATAGRAM <= due:
            payload = b"".join(packet(tuner.number + i) for i in range(PER_DATAGRAM))
            tuner.number += PER_DATAGRAM
            for session in sending:
                send(session, udp, 0, payload if session.http else rtp(session, payload))
        rtcp_due = args.rtcp == "normal" or (args.rtcp == "late" and tuner.played and
                                             now - tuner.played > 3)
        if rtcp_due and now - last_rtcp >= 0.2:
            last_rtcp = now
            for session in sending:
                if not session.http:
                    send(session, udp, 1, rtcp(session, args))


def send(session, udp, channel, data):
    if session.udp:
        udp[channel].sendto(data, (session.udp[0], session.udp[1 + channel]))
    elif not session.writer.is_closing():
        session.writer.write(struct.pack(">BBH", 0x24, channel, len(data)) + data)


class Ssdp(asyncio.DatagramProtocol):
    def __init__(self, http_port):
        self.http_port = http_port

    def connection_made(self, transport):
        self.transport = transport

    def datagram_received(self, data, address):
        if data.startswith(b"M-SEARCH") and b"urn:ses-com:device:SatIPServer:1" in data:
            self.transport.sendto((
                "HTTP/1.1 200 OK\r\nCACHE-CONTROL: max-age=1800\r\nEXT:\r\n"
                "LOCATION: http://127.0.0.1:%d/desc.xml\r\nSERVER: Linux/1.0 UPnP/1.1 Responder/1.0\r\n"
                "ST: urn:ses-com:device:SatIPServer:1\r\n"
                "USN: uuid:5a7e0000-0000-0000-0000-000000000001::urn:ses-com:device:SatIPServer:1\r\n"
                "BOOTID.UPNP.ORG: 1\r\nCONFIGID.UPNP.ORG: 1\r\n\r\n" % self.http_port).encode(),
                address)


async def handle_http(tuner, rtsp_port, reader, writer):
    request = (await reader.readuntil(b"\r\n\r\n")).decode(errors="replace")
    target = request.split(" ")[1]
    tuner.note("GET " + target)
    if target.startswith("/?"):
        session = Session(tuner, "", writer)
        session.http = True
        session.query = dict(urllib.parse.parse_qsl(target[2:]))
        session.playing = True
        tuner.sessions["http%d" % session.stream] = session
        writer.write(b"HTTP/1.1 200 OK\r\nContent-Type: video/MP2T\r\nConnection: close\r\n\r\n")
        try:
            await reader.read()  # until the client closes
        except ConnectionError:
            pass
        tuner.sessions.pop("http%d" % session.stream, None)
        writer.close()
        return
    body = ("<?xml version=\"1.0\"?><root><device><friendlyName>Test responder</friendlyName>"
            "<satip:X_SATIPCAP>DVBS2-1</satip:X_SATIPCAP></device></root>")
    writer.write(("HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nX-SATIP-RTSP-Port: %d\r\n"
                  "Content-Length: %d\r\nConnection: close\r\n\r\n%s" %
                  (rtsp_port, len(body), body)).encode())
    await writer.drain()
    writer.close()


async def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--address", default="127.0.0.1")
    parser.add_argument("--ports", required=True)
    parser.add_argument("--log")
    parser.add_argument("--ro35", action="store_true")
    parser.add_argument("--busy-freq", default="")
    parser.add_argument("--busy-status", type=int, default=503)
    parser.add_argument("--timeout", type=int, default=60)
    parser.add_argument("--rtcp", choices=["normal", "late", "none"], default="normal")
    parser.add_argument("--tcp-only", action="store_true")
    parser.add_argument("--vanish-after", type=float, default=0)
    parser.add_argument("--ssdp", action="store_true")
    parser.add_argument("--rate", type=float, default=4)
    args = parser.parse_args()
    tuner = Tuner(args)
    rtsp = await asyncio.start_server(lambda r, w: handle_rtsp(tuner, r, w), args.address, 0)
    rtsp_port = rtsp.sockets[0].getsockname()[1]
    http = await asyncio.start_server(lambda r, w: handle_http(tuner, rtsp_port, r, w),
                                      args.address, 0)
    http_port = http.sockets[0].getsockname()[1]
    udp = [socket.socket(socket.AF_INET, socket.SOCK_DGRAM) for _ in range(2)]
    for s in udp:
        s.setsockopt(socket.SOL_SOCKET, socket.SO_SNDBUF, 4 << 20)
        s.bind((args.address, 0))
    if args.ssdp:
        group = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        group.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        group.bind(("239.255.255.250", 1900))
        group.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP,
                         socket.inet_aton("239.255.255.250") + socket.inet_aton(args.address))
        await asyncio.get_running_loop().create_datagram_endpoint(lambda: Ssdp(http_port),
                                                                  sock=group)
    with open(args.ports + ".new", "w") as ports:
        ports.write("%d %d\n" % (rtsp_port, http_port))
    os.replace(args.ports + ".new", args.ports)
    await stream(tuner, udp)


if __name__ == "__main__":
    asyncio.run(main())
