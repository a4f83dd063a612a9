// Whole-line output. Workers print concurrently: one lock keeps each line whole, whatever
// its length (a pipe takes a write whole only up to PIPE_BUF).
#pragma once

#include <chrono>
#include <functional>
#include <string_view>

namespace base::console {

/// Writes the text and a line feed to stdout in one write.
void line(std::string_view text);

/// Writes the text and a line feed to stderr in one write.
void errorLine(std::string_view text);

/// Writes the text (which starts with "Aviso: ") and a line feed to stderr in one write.
void warningLine(std::string_view text);

/// From now on, begins each stderr line with its syslog level as journald reads it
/// ("<3>" for errorLine, "<4>" for warningLine): for a stderr that is a journal stream.
void useJournalLevels();

/// Writes a block of whole lines (already ending in line feeds) to stdout.
void block(std::string_view text);

/// Writes the text and a line feed to stdout unless the console or stdout keeps it
/// waiting longer than `patience` (a reader that stopped reading, a worker blocked on it);
/// for a line shorter than PIPE_BUF. Never sets O_NONBLOCK: the file description may be
/// shared. False when the line did not go out; only a failed write counts as a failed stdout.
bool lineWithin(std::string_view text, std::chrono::milliseconds patience);

/// True once a write to stdout has failed (or stdout was closed at start-up).
bool outputFailed();

/// Makes sure descriptors 0 to 2 are open, so that no socket or file the run opens
/// later lands on them; a closed stdout counts as a failed stdout.
void prepareDescriptors();

/// Takes every write in place of the descriptor it was meant for (STDOUT_FILENO or
/// STDERR_FILENO), whole and under the console's lock: how tests read the output. An empty
/// sink gives the descriptors back.
using Sink = std::function<void(int fd, std::string_view data)>;
void setSink(Sink sink);

}  // namespace base::console
