// The object names of the widgets, menu items and timers, for the code that makes them and the tests that
// look them up. No name is stored anywhere: they may change with the code.
#pragma once

namespace clavora::widgetnames {

inline constexpr char MatrixDisplay[] = "matrixDisplay";

} // namespace clavora::widgetnames
