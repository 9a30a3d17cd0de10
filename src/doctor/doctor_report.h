#pragma once
// The doctor's report, as plain text or as one JSON document of a stable shape (README).
#include "src/doctor/doctor.h"
#include "src/json/text_buffer.h"

// Appends the report to `out`. False when the JSON document could not be built.
bool doctor_report_json(const DoctorReport &report, text_buf *out);
void doctor_report_text(const DoctorReport &report, text_buf *out);
