// Aligned text tables for the terminal: a header row and data rows, each
// column as wide as its widest cell, two blanks between columns.
#pragma once

#include <string>
#include <vector>

class Table {
 public:
  explicit Table(std::vector<std::string> headers) : rows_{std::move(headers)} {}
  // Missing cells are empty, extra ones are dropped.
  void add(std::vector<std::string> row);
  std::size_t size() const { return rows_.size() - 1; }
  // Every row ends in a newline; trailing blanks are left out.
  std::string render() const;

 private:
  std::vector<std::vector<std::string>> rows_;
};
