#pragma once
// tunavox-cli site: a site folder made from the devices of a line, checked again, and a
// visit's report.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "line/device.h"
#include "line/line.h"
#include "site/site.h"

namespace tunavox::cli {

// site new DIR --port NAME [--version 1|2] [--gateway] --device FILE:ID... [--name TEXT]
// site check DIR (a visit begins: what the devices answer is kept as found)
// site report DIR --output FILE.html|FILE.csv [--engineer NAME] [--journal DIR]
int Site(const std::vector<std::string>& args);
int SiteReport(const std::vector<std::string>& args);

// Serves the line's hand-overs until done() holds; a stop signal closes the port, so what
// is running and queued fails at once.
void ServeUntil(TLine& line, const std::function<bool()>& done);
// The site's devices of one line, loaded, with the line opened; 0 or kUsageError (the
// devices loaded before a failure stay in devices: all of them when the port failed).
int OpenSiteLine(const TSiteLine& siteLine, TLine& line,
                 std::vector<std::unique_ptr<TDevice>>& devices);

} // namespace tunavox::cli
