/* Texts that the resource script sets and the C++ code names too: the window class the Main
   window's template asks for, the dialogs' captions, and the About box's title, which the
   version resource repeats. Plain definitions, since the resource compiler reads them. */
#ifndef PELLMAR_APP_RESOURCE_TEXTS_H
#define PELLMAR_APP_RESOURCE_TEXTS_H

#include "version/version.h"

#define PELLMAR_CLASS_NAME "PellmarClass"
#define PELLMAR_MAIN_CAPTION "Tarvel Remote Control " PELLMAR_VERSION_TEXT
#define PELLMAR_SETUP_CAPTION "Local and Remote Tarvel Setup"
#define PELLMAR_EDITOR_CAPTION "Message Editor"
#define PELLMAR_ABOUT_TITLE "Pellmar - Internet Capable Tarvel"
#define PELLMAR_LINK_KEY_CAPTION "Link Key"

#endif
