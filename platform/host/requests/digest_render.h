// Writing the digest: an aligned text report, or one JSON object.
#pragma once

#include <cstddef>
#include <string>

#include "requests/request_digest.h"
#include "tdsengine/out_buffer.h"

// Text: the fingerprints ranked by total time in a table, then each one's details (first and
// last seen, users, applications, clients, errors, an example), then the tables per user, per
// application and per client address, errors by number and requests per second. `width`: the
// line width long texts are cut to (0: not cut).
void WriteDigestText(const RequestDigest& digest, OutBuffer& out, size_t width);

// JSON, one object on one line: requests, answered, unanswered, with_errors, rows, total_ms,
// first_time, last_time, fingerprint_count, fingerprints [{rank, fingerprint, fingerprint_id,
// kind, FIGURES, errors [{number, count}], other_errors, users, applications, clients
// [{name, count}], other_users, other_applications, other_clients, example {time, conn, user,
// duration_ms, text}}], users, applications, clients [{name, FIGURES}], errors [{number, class,
// count, text, fingerprint_id}], other_errors, per_second {start, interval_s, requests [...],
// errors [...]}. FIGURES: count, unanswered, total_ms, mean_ms, p50_ms, p95_ms, p99_ms, max_ms,
// rows, with_errors, first_seen, last_seen.
void WriteDigestJson(const RequestDigest& digest, OutBuffer& out);

// Milliseconds with three decimals from microseconds ("12.345").
std::string MillisText(double us);
