# Makes a recording for every transponder of the stand-in card's lineup with
# ffmpeg, and the lineup file that plays them, beside the library:
#   OUT/ttlcdacc-streams/<frequency><polarity>.ts   OUT/ttlcdacc-lineup.json
# Each service gets a test picture (MPEG-2 video, 320x240, 25 frames/s) and a
# tone (MPEG-1 Layer II audio) of its own, a radio service the tone only; the
# multiplex carries the lineup's PIDs, service ids and names, transport stream
# and network ids. The stand-in pads them with null packets up to its rate.
# Usage: cmake -DFFMPEG=ffmpeg -DLINEUP=sim/lineup.json -DOUT=build/x/bin -P make_streams.cmake

# A whole number of video frames (40 ms) and of audio frames (1152 samples at
# 48 kHz, 24 ms), so that the pictures and the sound loop without a seam.
set(seconds 2.4)
set(patterns testsrc2 smptebars testsrc rgbtestsrc pal75bars yuvtestsrc)

# A lavfi source as the next input, mapped to the next output stream on `pid`
# and listed in the service's program.
macro(add_stream source kind pid)
  list(APPEND inputs -f lavfi -i "${source}:duration=${seconds}")
  list(APPEND outputs -map ${stream}:${kind} -streamid ${stream}:${pid})
  string(APPEND program ":st=${stream}")
  math(EXPR stream "${stream} + 1")
endmacro()

file(READ ${LINEUP} lineup)
file(MAKE_DIRECTORY ${OUT}/ttlcdacc-streams)
string(JSON transponders LENGTH "${lineup}" transponders)
math(EXPR last_transponder "${transponders} - 1")
set(entries "")
set(picture 0)
foreach(t RANGE ${last_transponder})
  string(JSON transponder GET "${lineup}" transponders ${t})
  foreach(key frequency polarity transport_stream_id network_id provider)
    string(JSON ${key} GET "${transponder}" ${key})
  endforeach()
  string(JSON services LENGTH "${transponder}" services)
  math(EXPR last_service "${services} - 1")
  set(inputs "")
  set(outputs "")
  set(stream 0)
  foreach(s RANGE ${last_service})
    string(JSON service GET "${transponder}" services ${s})
    string(JSON id GET "${service}" id)
    string(JSON name GET "${service}" name)
    string(JSON pmt GET "${service}" pmt)
    string(JSON audio GET "${service}" audio)
    string(JSON video ERROR_VARIABLE no_video GET "${service}" video)
    # ffmpeg's muxer puts the PMTs on consecutive PIDs from the first.
    if(s EQUAL 0)
      set(first_pmt ${pmt})
    endif()
    math(EXPR expected "${first_pmt} + ${s}")
    math(EXPR pmt_number "${pmt}")
    if(NOT pmt_number EQUAL expected)
      message(FATAL_ERROR "${frequency} ${polarity} ${name}: PMT ${pmt} is not the one after the last")
    endif()
    set(program "program_num=${id}:title=${name}")
    if(NOT no_video)
      list(GET patterns ${picture} pattern)
      math(EXPR picture "(${picture} + 1) % 6")
      add_stream("${pattern}=size=320x240:rate=25" v ${video})
    endif()
    math(EXPR tone "220 + 110 * ${s} + 37 * ${t}")
    add_stream("sine=frequency=${tone}:sample_rate=48000" a ${audio})
    list(APPEND outputs -program "${program}" -metadata:p:${s} "service_provider=${provider}")
  endforeach()
  set(file ttlcdacc-streams/${frequency}${polarity}.ts)
  # One audio frame per PES packet and a PCR every 20 ms: timestamps that show
  # exactly how long a pass lasts. Every picture opens a group of its own with
  # a sequence header, so that a capture decodes from its first whole picture
  # wherever it begins.
  execute_process(
    COMMAND ${FFMPEG} -nostdin -v error -y ${inputs} ${outputs}
            -c:v mpeg2video -b:v 200k -g 1 -bf 0 -c:a mp2 -b:a 64k -ac 1
            -mpegts_pmt_start_pid ${first_pmt} -mpegts_transport_stream_id ${transport_stream_id}
            -mpegts_original_network_id ${network_id} -mpegts_flags system_b
            -pes_payload_size 0 -pcr_period 20 -fflags +bitexact ${OUT}/${file}
    RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "ffmpeg could not make ${file}")
  endif()
  string(APPEND entries "    {\"frequency\": ${frequency}, \"polarity\": \"${polarity}\", "
                        "\"file\": \"${file}\", \"stuffing\": true}")
  if(t LESS last_transponder)
    string(APPEND entries ",")
  endif()
  string(APPEND entries "\n")
endforeach()

file(WRITE ${OUT}/ttlcdacc-lineup.json
"// The stand-in card's lineup file, made by the build (sim/make_streams.cmake):
// every transponder plays a recording made with ffmpeg, padded with null
// packets up to the card's rate. sim/README.md describes what else it can set.
{
  \"transponders\": [
${entries}  ]
}
")
