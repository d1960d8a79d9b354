#pragma once

#include <string>

// "orws-devserver jobs --db FILE [--storage DIR]": lists every stored job
// (print, mobile print, copy and disc requests) with the fields of its
// request record, the payer and project set on it and its size, so that a
// person can see what arrived. Returns the process exit status.
int RunJobsCommand(int argc, char** argv);

// The listing of one job's request record: "  name: value" lines. kind is
// the Uploads.Kind text; record the bytes of task.bin.
std::string DescribeRecord(const std::string& kind, const std::string& record);
