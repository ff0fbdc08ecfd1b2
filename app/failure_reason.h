#pragma once
// Why a synthesis gave no audio, worded for the people who read it: a short Chinese reason for
// the window's caption and a precise English sentence for the command line, both from the
// job's outcome and, when writing failed, the system's error number.

#include <string>

#include "app/audition.h"
#include "service/synthesis_job.h"

// The window's caption after a failed Play: "语音合成失败：" and a short reason (code page 936).
std::string FailureCaption(const SynthesisOutcome& outcome);
// The same after the audio came back but could not be written (errno of the failure).
std::string WriteFailureCaption(int errorNumber);

// The window's caption after an audition gave no sample: "试听失败：" and a short reason.
std::string AuditionFailureCaption(const SampleOutcome& outcome);

// For the command line: what went wrong and where, with the status or the transport's words.
std::string DescribeFailure(const SynthesisOutcome& outcome);
std::string DescribeWriteFailure(int errorNumber);
// Why no sample could be had, with the status, the transport's words or the system's reason.
std::string DescribeSampleFailure(const SampleOutcome& outcome);

// The exchange of a job as the command line names it: "the submit", "result request 3", ...
std::string DescribeStage(SynthesisStage stage, int resultRequest);
// A transport failure in a few English words: "refused", "timed out", ...
std::string DescribeTransportFailure(const HttpError& error);
