// The fixed paths and command texts the tool is built with. The backend and the other tools of
// the product family use the same paths, so none of them can be changed at run time.
#pragma once

namespace lumora {

// The double slash is how the backend spells the path; kept so messages match its own.
inline constexpr char kConfigFile[] = "/etc/opt/kelvane/scanner/lumora//lumsanenetdevice.cfg";
inline constexpr char kConfigDir[] = "/etc/opt/kelvane/scanner/lumora/";
inline constexpr char kModelsDir[] = "/etc/opt/kelvane/scanner/lumora//models";
inline constexpr char kDefaultCatalogue[] = "/etc/opt/kelvane/scanner/lumora//Lumsane.ini";
inline constexpr char kScratchTemplate[] = "/tmp/lumsane_tempfile5_XXXXXX";
inline constexpr char kLabelSuffix[] = ".lumoraconf";

inline constexpr char kFirstNetconfigTool[] = "/opt/kelvane/scanner/lumora/lumora_gnetconfig";
inline constexpr char kSecondNetconfigTool[] = "/opt/kelvane/scanner/lumora/lumora_cnetconfig";
inline constexpr char kQueryCommand[] =
    "/opt/kelvane/scanner/lumora/lumora_cnetconfig --query-network-scanner";

}  // namespace lumora
