#pragma once

// Screen readers and other accessibility clients learn of a password field
// only that it is one: its role, its name (from its label) and its state,
// never its text, not even as a row of stars that tells the length. Applies
// to every line edit whose echo mode is not Normal when an accessibility
// client first asks for it. Install once, after the application object.
namespace AccessiblePassword
{

void install();

} // namespace AccessiblePassword
