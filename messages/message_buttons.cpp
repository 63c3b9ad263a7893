#include "messages/message_buttons.h"

#include "app/resource_ids.h"
#include "app/window.h"
#include "messages/message_sender.h"
#include "net/link_state.h"

void OnMessageButton(int number) {
    // StartMessage itself refuses while a message is being sent.
    if (RoleAcceptsLocalKeying()) {
        StartMessage(number, number);
    }
    FocusControl(IDC_LOG_PANE);
}
