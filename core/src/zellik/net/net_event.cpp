#include "zellik/net/net_event.h"

namespace zellik {

std::string_view request_source_name(RequestCreatedSource source) {
  switch (source) {
    case RequestCreatedSource::External:
      return "External";
    case RequestCreatedSource::OnStartup:
      return "OnStartup";
    case RequestCreatedSource::OnNoSalvoTriggered:
      return "OnNoSalvoTriggered";
  }
  return "External";
}

}  // namespace zellik
