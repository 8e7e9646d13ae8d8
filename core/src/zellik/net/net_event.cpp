#include "zellik/net/net_event.h"

#include "zellik/base/kind_table.h"

namespace zellik {

namespace {

constexpr KindName<RequestCreatedSource> kRequestSources[] = {
    {RequestCreatedSource::External, "External"},
    {RequestCreatedSource::OnStartup, "OnStartup"},
    {RequestCreatedSource::OnNoSalvoTriggered, "OnNoSalvoTriggered"},
};
static_assert(rows_follow_kinds(kRequestSources, RequestCreatedSource::OnNoSalvoTriggered));

}  // namespace

std::string_view request_source_name(RequestCreatedSource source) {
  return row_of(kRequestSources, source).name;
}

}  // namespace zellik
