// The local CUPS server, through libcups loaded when first needed: programs
// that never print do not map it, and a machine without libcups simply has no
// CUPS printers.
#pragma once

#include <string>
#include <vector>

namespace qx::print {

struct CupsQueue {
  std::string name;
  std::string media;  // the queue's default paper ("iso_a4_210x297mm", "Letter"...), or ""
};

// The queues of the CUPS server (cupsServer(): CUPS_SERVER, client.conf or
// the local socket), without instances; default_queue gets the server's
// default. Empty when libcups is missing or no server answers.
std::vector<CupsQueue> CupsQueues(std::string &default_queue);

// Sends a file to a queue as one job; format "" lets the server type it.
// On failure, message says why in words.
bool CupsPrintFile(const std::string &queue, const std::string &path, const std::string &title,
                   const std::string &format, int copies, std::string &message);

}  // namespace qx::print
