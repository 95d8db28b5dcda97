// A service in the JSON report: see service_json.h.
#include "host/service_json.h"

namespace host {

Json ServiceJson(const dvb::Service& service) {
  Json streams = Json::array();
  for (const dvb::ServiceStream& stream : service.streams) {
    streams.push_back({{"pid", stream.pid},
                       {"stream_type", stream.stream_type},
                       {"kind", dvb::StreamTypeName(stream.stream_type)}});
  }
  return {{"program", service.program},   {"name", service.name},
          {"provider", service.provider}, {"pmt_pid", service.pmt_pid},
          {"pcr_pid", service.pcr_pid},   {"streams", streams}};
}

Json NamedServiceJson(const std::string& name) {
  return {{"program", nullptr}, {"name", name},       {"provider", nullptr},
          {"pmt_pid", nullptr}, {"pcr_pid", nullptr}, {"streams", nullptr}};
}

}  // namespace host
