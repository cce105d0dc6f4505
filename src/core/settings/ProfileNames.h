// src/core/settings/ProfileNames.h
#pragma once

// The names under which both front ends find the desktop program's settings:
// QSettings's organisation and application. They make the settings file's
// path (<config>/Quillory/Mrmx3.conf) and the registry key
// (HKEY_CURRENT_USER\Software\Quillory\Mrmx3).
inline constexpr const char* kProfileOrganisation = "Quillory";
inline constexpr const char* kProfileApplication = "Mrmx3";
