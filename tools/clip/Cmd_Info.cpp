// ospry-clip info FILE [--json]: describes a clip container or a multi-clip
// file. The description is built once as JSON; the text form is printed from
// it, so both always say the same.
#include <cstdio>
#include <iostream>
#include <map>
#include <string>

#include <nlohmann/json.hpp>

#include "platform/DateTime.h"
#include "platform/Files.h"
#include "tools/clip/Commands.h"
#include "viewer/container/U_ClipReader.h"
#include "viewer/container/U_ClipSplitter.h"
#include "viewer/container/U_IndexParser.h"

namespace ospry::clip {
namespace {

using nlohmann::json;

std::string Time(TDateTime value) { return FormatDateTime("yyyy/mm/dd hh:nn:ss.zzz", value); }

std::string Hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08x", value);
  return text;
}

json Sections(const std::vector<TSectionDescriptor>& sections) {
  json out = json::array();
  for (const auto& s : sections) out.push_back({{"kind", s.Kind}, {"name", s.Name}, {"size", s.Size}});
  return out;
}

json Recorder(const TDvrInfo& info) {
  return {{"recorder", info.DvrName}, {"channel", info.ChannelName}, {"user", info.UserName},
          {"host", info.HostName},    {"start", Time(info.StartTime)}, {"end", Time(info.EndTime)}};
}

json Container(const TReadFile& file, std::int64_t endPosition) {
  TClipReader reader(file, endPosition, false);
  json out = {{"endPosition", endPosition}, {"valid", reader.Valid()}};
  if (!reader.Valid()) {
    out["error"] = reader.Error();
    return out;
  }
  const TIndexParser& index = *reader.Index();
  out["variant"] = std::string(reader.ShortEntries() ? kLumentarMagic : kQuernMagic);
  out["description"] = reader.Description();
  out["fileChecksum"] = Hex(reader.FileChecksum());
  out["sections"] = Sections(reader.Sections());
  json clips = json::array();
  for (const auto& c : index.Clips())
    clips.push_back({{"start", Time(c.Start)}, {"end", Time(c.End)}, {"frameCount", c.FrameCount}});
  out["clips"] = clips;
  json recorders = json::array();
  for (const auto& info : index.DvrInfos()) recorders.push_back(Recorder(info));
  out["recorders"] = recorders;
  json headers = json::array();
  for (const auto& h : index.HeaderEntries()) headers.push_back({{"kind", h.StreamKind}, {"size", h.Size}});
  out["streamHeaders"] = headers;
  std::map<std::pair<int, int>, std::int64_t> counts;
  for (const auto& f : index.Frames()) ++counts[{f.StreamKind, f.FrameType}];
  json frames = json::array();
  for (const auto& [key, count] : counts)
    frames.push_back({{"streamKind", key.first}, {"frameType", key.second}, {"count", count}});
  out["frameCount"] = index.FrameCount();
  out["frames"] = frames;
  return out;
}

void PrintSections(const json& sections, const std::string& indent) {
  std::cout << indent << "Sections: " << sections.size() << "\n";
  for (std::size_t i = 0; i < sections.size(); ++i) {
    const json& s = sections[i];
    std::cout << indent << "  [" << i << "] kind " << s["kind"].get<int>() << ", \""
              << s["name"].get<std::string>() << "\", " << s["size"].get<std::int64_t>() << " bytes\n";
  }
}

void PrintRecorder(const json& r) {
  std::cout << "recorder \"" << r["recorder"].get<std::string>() << "\", channel \""
            << r["channel"].get<std::string>() << "\", user \"" << r["user"].get<std::string>() << "\", host \""
            << r["host"].get<std::string>() << "\", " << r["start"].get<std::string>() << " - "
            << r["end"].get<std::string>() << "\n";
}

void PrintContainer(const json& c) {
  std::cout << "Container ending at " << c["endPosition"].get<std::int64_t>();
  if (!c["valid"].get<bool>()) {
    std::cout << ": invalid (" << c["error"].get<std::string>() << ")\n";
    return;
  }
  std::cout << ": " << c["variant"].get<std::string>() << "\n";
  std::cout << "  Description: \"" << c["description"].get<std::string>() << "\"\n";
  std::cout << "  File checksum: " << c["fileChecksum"].get<std::string>() << "\n";
  PrintSections(c["sections"], "  ");
  std::cout << "  Clips: " << c["clips"].size() << "\n";
  for (std::size_t i = 0; i < c["clips"].size(); ++i) {
    const json& clip = c["clips"][i];
    std::cout << "    [" << i << "] " << clip["start"].get<std::string>() << " - " << clip["end"].get<std::string>()
              << ", " << clip["frameCount"].get<std::int64_t>() << " frames\n";
  }
  std::cout << "  Recorders: " << c["recorders"].size() << "\n";
  for (std::size_t i = 0; i < c["recorders"].size(); ++i) {
    std::cout << "    [" << i << "] ";
    PrintRecorder(c["recorders"][i]);
  }
  std::cout << "  Stream headers: " << c["streamHeaders"].size() << "\n";
  for (std::size_t i = 0; i < c["streamHeaders"].size(); ++i) {
    const json& h = c["streamHeaders"][i];
    std::cout << "    [" << i << "] kind " << h["kind"].get<int>() << ", " << h["size"].get<std::int64_t>()
              << " bytes\n";
  }
  std::cout << "  Frames: " << c["frameCount"].get<std::int64_t>() << "\n";
  for (const json& f : c["frames"])
    std::cout << "    kind " << f["streamKind"].get<int>() << ", type " << f["frameType"].get<int>() << ": "
              << f["count"].get<std::int64_t>() << "\n";
}

void PrintText(const json& d) {
  std::cout << "File: " << d["file"].get<std::string>() << " (" << d["size"].get<std::int64_t>() << " bytes)\n";
  if (d.contains("multiClip")) {
    const json& m = d["multiClip"];
    std::cout << "Multi-clip file: " << m["clipCount"].get<std::int64_t>() << " clips, mode "
              << m["mode"].get<int>() << " (" << m["modeName"].get<std::string>() << ")\n";
    std::cout << "Description: \"" << m["description"].get<std::string>() << "\"\n";
    std::cout << "File checksum: " << m["fileChecksum"].get<std::string>() << "\n";
    PrintSections(m["sections"], "");
    for (std::size_t i = 0; i < m["clips"].size(); ++i) {
      const json& clip = m["clips"][i];
      std::cout << "Clip " << i << ": ends at " << clip["endPosition"].get<std::int64_t>() << ", ";
      PrintRecorder(clip["recorder"]);
    }
  } else {
    std::cout << "Clip container file\n";
  }
  for (const json& c : d["containers"]) PrintContainer(c);
}

int RunInfo(const std::string& path, bool asJson) {
  // Fixed separators: the output is read by scripts as well as people.
  OverrideSeparators('/', ':');
  json d = {{"file", path}};
  TClipSplitter splitter(path, false);
  if (splitter.Valid()) {
    d["size"] = splitter.FileSize();
    json clips = json::array();
    for (const auto& clip : splitter.Clips())
      clips.push_back({{"endPosition", clip.EndPosition}, {"recorder", Recorder(clip.Info)}});
    d["multiClip"] = {{"clipCount", splitter.ClipCount()}, {"mode", splitter.Mode()},
                      {"modeName", MultiClipModeName(splitter.Mode())}, {"description", splitter.Description()},
                      {"fileChecksum", Hex(splitter.FileChecksum())}, {"sections", Sections(splitter.Sections())},
                      {"clips", clips}};
    json containers = json::array();
    for (const auto& clip : splitter.Clips()) containers.push_back(Container(splitter.File(), clip.EndPosition));
    d["containers"] = containers;
  } else {
    TReadFile file;
    if (!file.Open(path)) {
      std::cerr << "ospry-clip info: cannot open " << path << "\n";
      return 1;
    }
    json container = Container(file, file.Size());
    if (!container["valid"].get<bool>()) {
      std::cerr << "ospry-clip info: " << path << " is neither a clip container nor a multi-clip file\n";
      return 1;
    }
    d["size"] = file.Size();
    d["containers"] = json::array({container});
  }
  // Names and descriptions come from the file and need not be valid UTF-8.
  if (asJson)
    std::cout << d.dump(2, ' ', false, json::error_handler_t::replace) << "\n";
  else
    PrintText(d);
  return 0;
}

TRegisterCommand reg([](CLI::App& app) {
  auto* cmd = app.add_subcommand("info", "Describe a clip container or multi-clip file");
  auto path = std::make_shared<std::string>();
  auto asJson = std::make_shared<bool>(false);
  cmd->add_option("FILE", *path, "The file to describe")->required();
  cmd->add_flag("--json", *asJson, "Print one JSON object instead of text");
  cmd->callback([path, asJson] { SetExitCode(RunInfo(*path, *asJson)); });
});

}  // namespace
}  // namespace ospry::clip
