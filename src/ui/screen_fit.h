#pragma once
class QWidget;

namespace tunavox {

// Each time window is shown, it is made to fit the available area of its screen
// (shrunk, never below its minimum size, and moved inside), whatever the display
// scale: a window larger than the screen would hide its buttons beyond its edge. A
// dialog whose content cannot shrink that far gets it inside a scroll area.
void KeepOnScreen(QWidget* window);

// Fits window into its screen's available area now.
void FitIntoScreen(QWidget* window);

} // namespace tunavox
