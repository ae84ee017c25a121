#pragma once
// The identifiers of the texts the user sees, in the string tables of
// command/texts.rc. Read by the resource compiler too: definitions only.

#define IDS_OPEN_FILE_LOCATION_MENU 1
#define IDS_OPEN_FOLDER_LOCATION_MENU 2
#define IDS_OPEN_FILE_LOCATION_TITLE 3
#define IDS_OPEN_FOLDER_LOCATION_TITLE 4
#define IDS_HELP_TEXT 5
