#pragma once
namespace app {
// Tells navigation how to make each window.
void registerForms();
} // namespace app
