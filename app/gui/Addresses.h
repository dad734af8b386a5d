#pragma once

// The maker's addresses the Help menu and the About window open, and the application's title.
// Configuration values: change them here only.

inline constexpr const char* kApplicationTitle = "Kestrom Pictova";
inline constexpr const char* kWebSite = "https://www.kestrom.example/";
inline constexpr const char* kOnlineHelp = "https://www.kestrom.example/pictova/help/";
inline constexpr const char* kSupportMail = "support@kestrom.example";
// The web address as the status bar shows it.
inline constexpr const char* kWebSiteShown = "www.kestrom.example";
