// SPDX-License-Identifier: MIT
// ui: the bridge in a browser, served by the tool itself on 127.0.0.1.

#include <fmt/format.h>
#include <CLI/CLI.hpp>
#include <corvane/sim.hpp>

#include <cstdio>
#include <optional>

#include "Numbers.hpp"
#include "Tool.hpp"
#include "ui/Access.hpp"
#include "ui/Api.hpp"
#include "ui/Browser.hpp"
#include "ui/BusLog.hpp"
#include "ui/Endpoints.hpp"
#include "ui/HttpServer.hpp"
#include "ui/Site.hpp"

namespace CorvaneTool {

namespace {

struct UiOptions {
    std::string port = "0";
    bool noBrowser = false;
};

void AddSessionEndpoints(Ui::Api& api, Tool& tool) {
    api.Add("GET", "/api/session", [&tool](Ui::Call&) {
        return Json{{"version", CORVANE_TOOL_VERSION}, {"sim", tool.options.sim}};
    });
}

void Serve(Tool& tool, const UiOptions& options) {
    const auto port = static_cast<std::uint16_t>(ParseNumber(options.port, "--port", 0, 65535));
    // The virtual chip takes the time a bridge takes: a long write shows its
    // progress, an ADC plot moves at the pace it would, and a browser can
    // leave in the middle of a transfer as it could on hardware.
    if (auto host =
            std::dynamic_pointer_cast<Corvane::Sim::SimulatedHost>(Corvane::GetPlatform())) {
        host->SetRealTime(true);
    }
    // The virtual chip's state is kept after every change, as each command
    // keeps it, so that a server stopped in any way leaves what it did.
    Ui::BusLog busLog(tool.options.trace ? Corvane::ReportTraceFunction(PrintTraceLine)
                                         : Corvane::ReportTraceFunction());
    Ui::Api api({.before = [&busLog] { busLog.Begin(); },
                 .after = [&busLog](const std::string& path) { busLog.End(path); },
                 .changed = [&tool] { tool.Finish(); }});
    AddSessionEndpoints(api, tool);
    Ui::Workbench workbench(tool);
    Ui::AddEndpoints(api, workbench);
    api.Add("GET", "/api/bus/trace", [&busLog](Ui::Call&) { return busLog.Recent(); });
    api.Add("POST", "/api/bus/trace/clear", [&busLog](Ui::Call&) {
        busLog.Clear();
        return Json::object();
    });

    std::optional<Ui::Access> access;
    Ui::HttpServer server(
        port, [&](const Ui::HttpRequest& request) { return Ui::Answer(*access, api, request); });
    access.emplace(server.Port());
    fmt::print(
        "corvane ui: serving the web interface on 127.0.0.1:{}; open this address (its token "
        "admits you):\n  {}\nCtrl-C stops the server.\n",
        server.Port(), access->Url());
    std::fflush(stdout);
    if (!options.noBrowser && !Ui::OpenInBrowser(access->Url())) {
        fmt::print("(no browser could be opened from here: open the address yourself)\n");
        std::fflush(stdout);
    }
    server.Run();
}

}  // namespace

void AddUiCommand(CLI::App& app, Tool& tool, Handlers& handlers) {
    auto options = std::make_shared<UiOptions>();
    auto* ui = app.add_subcommand(
        "ui",
        "Serve the web interface on 127.0.0.1 and open it in the browser: bridges, bus, "
        "EEPROM, pins, ADC plot, settings");
    ui->add_option("--port", options->port, "listen on port N (default: a free port)")
        ->type_name("N");
    ui->add_flag("--no-browser", options->noBrowser, "only print the address to open");
    handlers[ui] = [&tool, options] { Serve(tool, *options); };
}

}  // namespace CorvaneTool
