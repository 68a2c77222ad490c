#include "tool/cli/verify_command.h"

#include <iostream>
#include <string>

#include "core/message.h"
#include "tool/cli/help.h"
#include "tool/cli/options.h"
#include "tool/media/io.h"
#include "tool/media/run_inputs.h"
#include "tool/verify/report_html.h"
#include "tool/verify/report_json.h"
#include "tool/verify/report_text.h"
#include "tool/verify/verify.h"

namespace tallyburn::tool {

int RunVerify(int argc, char** argv) {
  VerifyCommand o;
  try {
    o = ParseVerifyOptions(argc, argv);
  } catch (const UsageError& e) {
    std::cerr << "tallyburn verify: " << Printable(e.what()) << "\n";
    return 2;
  }
  if (o.help) {
    std::cout << VerifyHelp();
    return 0;
  }
  VerifyReport report;
  std::string name;
  try {
    // A report never replaces what it reports on: refused before reading.
    InputFiles inputs;
    // Standard input redirected from a file is that file.
    if (o.run.input == "-")
      inputs.Add("standard input", "/dev/stdin");
    else
      inputs.Add(o.run.input, o.run.input);
    if (!o.run.reference.empty()) inputs.Add(o.run.reference, o.run.reference);
    for (const std::string& path : {o.json, o.html})
      if (!path.empty()) RefuseInput(inputs, path, "the check", "report");
    report = ReadAndCompare(o.run, &name);
  } catch (const ToolError& e) {
    std::cerr << "tallyburn verify: " << Printable(e.what()) << "\n";
    return 2;
  }
  std::cerr << ReportSummary(report, name);
  try {
    if (!o.json.empty()) {
      auto out = OutputStream::Open(o.json);
      out->Write(ReportJson(report, name));
      out->Commit();
    }
    if (!o.html.empty()) {
      auto out = OutputStream::Open(o.html);
      out->Write(ReportHtml(report, name));
      out->Commit();
    }
  } catch (const ToolError& e) {
    std::cerr << "tallyburn verify: " << Printable(e.what()) << "\n";
    return 2;
  }
  return report.intact() ? 0 : 1;
}

}  // namespace tallyburn::tool
