#include "host/command_help.h"

namespace host {

const std::vector<CommandText>& CommandTexts() {
  static const std::vector<CommandText> texts = {
      {"info", "show the module's descriptor, version resource and exports",
       "The version resource and exports in the Windows build. The card is not touched.\n",
       "  morvalind-host info\n"
       "  morvalind-host info --json\n"},
      {"open", "open the card through the module, then close it",
       "Counts the packets the callback got. A failed open's message goes to stderr.\n",
       "  morvalind-host open\n"},
      {"tune", "tune a transponder and report lock and signal",
       "Selects the dish first with --port (E0 10 38 Fx) and/or --burst when given.\n"
       "NAME tunes that channel of the channel file instead (see -c).\n",
       "  morvalind-host tune --freq 11778 --pol V --sr 27500 --fec 3/4\n"
       "  morvalind-host tune --freq 11095 --pol H --sr 27500 --port 2 --json\n"
       "  morvalind-host tune 'Pellam Sport' -c channels.conf\n"
       "  morvalind-host tune --lnb c-band --freq 3880 --pol R --sr 27500   (a C-band dish: a real "
       "card)\n"},
      {"signal", "show strength, quality and lock, once or watched",
       "Tunes first when a transponder or a channel's NAME is given. --watch reads on,\n"
       "until interrupted (status 0) or for SECONDS: in place on a terminal (bars fit\n"
       "its width), a line a second otherwise, with --json a JSON line a sample with\n"
       "its Unix time.\n",
       "  morvalind-host signal --freq 12344 --pol H --sr 29700 --watch\n"
       "  morvalind-host signal 'Pellam Sport' -c channels.conf --watch 10 --json\n"},
      {"capture", "tune and write the transport stream to a file, a pipe or UDP",
       "A channel's NAME records that channel: its service alone (its own PAT, its\n"
       "PMT, streams and PCR, and its SDT entry, so that players show its name);\n"
       "--pids all records the whole transponder, as the tune options do. --service\n"
       "keeps another service (name or number), --pids exactly the PIDs listed.\n"
       "Writes whole packets to -o FILE (-: standard output, all text then on\n"
       "stderr) and/or to --udp [udp://|rtp://]HOST:PORT (IPv6 as [::1]:5008), seven\n"
       "a datagram (RTP: payload type 33), for --seconds or until Ctrl-C, SIGTERM,\n"
       "SIGHUP or the reader going away. --output WHAT=DEST, as often as needed,\n"
       "adds an output of its own: WHAT a service (name or number), pids:LIST or all;\n"
       "DEST a file or a udp:// or rtp:// address; each is counted apart.\n"
       "A file (or the file a link leads to) is replaced only once data flows\n"
       "(FILE.PID.partial until then), never while another capture writes it; a\n"
       "write error stops the capture (status 6). A pipe or network output that\n"
       "takes nothing never holds the capture up: what it did not take is dropped.\n",
       "  morvalind-host capture -o pellam.ts -t 5 --freq 11778 --pol V --sr 27500\n"
       "  morvalind-host capture 'Pellam Talk' -c channels.conf -o talk.ts -t 5\n"
       "  morvalind-host capture 'Pellam Talk' -c channels.conf --pids all -o all.ts -t 5\n"
       "  morvalind-host capture -o one.ts --service 3002 --freq 11778 --pol V --sr 27500 -t 5\n"
       "  morvalind-host capture --output 3001=sport.ts --output 'Pellam Talk=rtp://[::1]:5008' "
       "--freq 11778 --pol V --sr 27500 -t 5\n"
       "  morvalind-host capture -o - --freq 11778 --pol V --sr 27500 | ffplay -\n"
       "  morvalind-host capture --udp 239.1.1.1:1234 --ttl 4 --freq 11095 --pol H --sr 27500 "
       "--port 2\n"},
      {"diseqc", "send a DiSEqC message, switch port, tone burst or positioner command",
       "3 to 6 hex bytes, --port or --goto, after --burst if given. A positioner\n"
       "command stops the stream until the next tune.\n",
       "  morvalind-host diseqc E0 10 38 F3\n"
       "  morvalind-host diseqc --port 2 --pol H --burst B\n"},
      {"scan", "tune every transponder of a channel file and list their services",
       "Reads a dvbv5 transponder file (as dtv-scan-tables' dvb-s folder holds them;\n"
       "a name alone is also looked up beside this program and its virtual card, which\n"
       "has ttlcdacc-transponders.conf), tunes each DVB-S entry (DVB-S2 ones are\n"
       "skipped and counted), reads its PAT, SDT, PMTs and NIT, and writes a dvbv5\n"
       "channel file of the services found to -o FILE or standard output, with the\n"
       "LNB and switch port used (LNB, SAT_NUMBER), so that dvbv5-zap tunes them too;\n"
       "progress on stderr. The transponders a NIT lists are scanned as well, unless\n"
       "-F. SAT_NUMBER picks the switch port (0: port 1); --port gives one for all.\n",
       "  morvalind-host scan ttlcdacc-transponders.conf -o channels.conf\n"
       "  morvalind-host scan ttlcdacc-transponders.conf -F --json\n"},
      {"adapters", "list the DVB adapters Linux drives, through the Linux DVB card library",
       "Each frontend with its name and delivery systems; --card remote:HOST:PORT\n"
       "lists those a dvbv5-daemon serves. No card is opened, no module loaded.\n",
       "  morvalind-host adapters\n"
       "  morvalind-host adapters --json\n"},  // the Linux build's
      {"serve", "serve the card to SAT>IP clients on the network (RTSP, RTP, HTTP)",
       "Makes the card a SAT>IP tuner (SAT>IP 1.2.2, one DVB-S tuner) until Ctrl-C or\n"
       "SIGTERM. Clients tune with RTSP (rtsp://HOST:PORT/?src=1&freq=...&pids=...)\n"
       "and get RTP over UDP or inside the RTSP connection, or the transport stream\n"
       "over HTTP (http://HOST:8080/?...); SSDP announces the server. src=N selects\n"
       "switch port N (as --port), freq is on the dish through the LNB (--lnb, --lof);\n"
       "msys=dvbs2 is tuned as DVB-S. Streams on one transponder share the card, each\n"
       "with its own PIDs; another transponder while they hold it is answered 503.\n"
       "Clients are admitted from loopback, private and link-local addresses unless\n"
       "--allow says otherwise; RTP goes only to the client's own address. Each\n"
       "session is logged: who, what was tuned, lock, and at its end what was sent.\n"
       "Exit status 6 here: the server cannot listen (its port taken or refused).\n",
       "  morvalind-host serve                       (RTSP on port 554: needs privileges)\n"
       "  morvalind-host serve --listen :8554 --replay my-recording.ts\n"
       "  morvalind-host serve --card linux --listen 192.168.1.5:8554 --allow 192.168.1.0/24\n"
       "  cvlc "
       "'satip://HOST:8554/"
       "?src=1&freq=11778&pol=v&msys=dvbs&sr=27500&fec=34&pids=0,17,4608,4625,4626'\n"
       "  vlc 'rtsp://HOST:8554/?src=1&freq=11778&pol=v&msys=dvbs&sr=27500&fec=34&pids=all'\n"
       "  ffmpeg -rtsp_transport tcp -i "
       "'rtsp://HOST:8554/?src=1&freq=11778&pol=v&sr=27500&pids=all' "
       "\\\n"
       "      -map 0 -c copy -t 10 pellam.ts              (or -rtsp_transport udp)\n"
       "  ffprobe 'http://HOST:8080/?src=1&freq=11778&pol=v&msys=dvbs&sr=27500&pids=all'\n"},
      {"demo", "show the module at work on the stand-in card",
       "Tunes the stand-in's lineup (a real card: the transponder given), captures the\n"
       "transponder with the most services and shows what it holds.\n",
       "  morvalind-host demo --out . -t 5\n"},
  };
  return texts;
}

}  // namespace host
