#pragma once

namespace velk::model {

// Registers every shared record that travels in queued signals. Safe to call
// more than once and from any thread.
void registerMetaTypes();

} // namespace velk::model
