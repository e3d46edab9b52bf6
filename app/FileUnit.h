#pragma once
// A module of the program that holds no behaviour; it is linked in with the
// others and keeps its place in the start-up order.
