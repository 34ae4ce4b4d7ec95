#include "app/FormRegistry.h"

#include "accounts/frmLogin.h"
#include "diary/frmLook.h"
#include "diary/frmMonth.h"
#include "diary/frmWrite.h"
#include "shell/Navigation.h"

namespace app {
void registerForms() {
    registerForm(FormId::Login, [] { return new frmLogin; });
    registerForm(FormId::Write, [] { return new frmWrite; });
    registerForm(FormId::Look, [] { return new frmLook; });
    registerForm(FormId::Month, [] { return new frmMonth; });
}
} // namespace app
