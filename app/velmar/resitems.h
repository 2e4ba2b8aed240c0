// The storage items: one object per node of a printer window's tree below its root (the
// printer). An item knows its path and name, asks the printer for its children, keeps the
// file entries of its listing and fills the window's file list.
#pragma once

#include "framework.h"

#include <string>

#include "printer.h"
#include "storage.h"

class CResItem {
  public:
    // The name from `line` (see NodeNameOf); the path empty; no child lines.
    explicit CResItem(const char *line);
    CResItem(const CResItem &) = delete;
    CResItem &operator=(const CResItem &) = delete;

    // Appends the item's children to `list` as heap texts, one reply line each; the caller
    // classifies and owns them.
    virtual int ListChildren(CPtrList &list) = 0;
    virtual void InsertColumns(CListCtrl &list) = 0;
    // The rows of the tree's selected node.
    virtual void FillListView(CListCtrl &list, CTreeCtrl &tree) = 0;
    // True when nothing needs to be asked again: the node has child nodes.
    virtual BOOL HasChildren(CTreeCtrl &tree, TVITEMA &item);
    virtual ~CResItem();

    void SetTree(CTreeCtrl *tree) { m_tree = tree; }
    // path = parent + separator + name (JoinStoragePath).
    void SetPath(const char *parentPath);
    // The printer the window shows: the data of the tree's root node.
    CAPrinter *GetPrinter() const;
    static std::string NormaliseNumber(const char *text) { return ::NormaliseNumber(text); }
    // Frees every child line.
    void FreeChildLines();

    // Items alive in the process.
    static int LiveCount() { return s_live; }

    CPtrList m_childLines{10}; // heap texts (NewListText), owned
    std::string m_path;
    std::string m_name;
    CTreeCtrl *m_tree = nullptr;

  protected:
    // One row per child node of the tree's selected node: text, image and data of the node.
    static void InsertNodeRows(CListCtrl &list, CTreeCtrl &tree);
    // Then one row per child line, image 10, with its Size column.
    void InsertLineRows(CListCtrl &list);

  private:
    static inline int s_live = 0;
};

// A storage device: its columns and rows are those of its volumes.
class CRIStoreDev : public CResItem {
  public:
    using CResItem::CResItem;
    int ListChildren(CPtrList &) override { return 0; }
    void InsertColumns(CListCtrl &list) override;
    void FillListView(CListCtrl &list, CTreeCtrl &tree) override;
};

class CRISDDisk : public CRIStoreDev {
  public:
    using CRIStoreDev::CRIStoreDev;
    int ListChildren(CPtrList &list) override;
};

class CRISDFlash : public CRIStoreDev {
  public:
    explicit CRISDFlash(const char *line);
    int ListChildren(CPtrList &list) override;
    int m_deviceNumber;
};

// A volume from its tagged line.
class CRIPartition : public CResItem {
  public:
    explicit CRIPartition(const char *line);
    int ListChildren(CPtrList &) override { return 0; }
    void InsertColumns(CListCtrl &list) override;
    void FillListView(CListCtrl &list, CTreeCtrl &tree) override;
    BOOL HasChildren(CTreeCtrl &tree, TVITEMA &item) override;

    std::string m_size = "0";
    std::string m_freeSpace = "0";
    std::string m_location;
    std::string m_label;
    std::string m_status;
};

// A PJL volume: backslash paths.
class CRIPDos : public CRIPartition {
  public:
    using CRIPartition::CRIPartition;
    int ListChildren(CPtrList &list) override;
};

// A PostScript volume: slash paths.
class CRIPUnix : public CRIPartition {
  public:
    using CRIPartition::CRIPartition;
    int ListChildren(CPtrList &list) override;
};

class CRIDir : public CResItem {
  public:
    using CResItem::CResItem;
    int ListChildren(CPtrList &list) override;
    void InsertColumns(CListCtrl &list) override;
    void FillListView(CListCtrl &list, CTreeCtrl &tree) override;
    BOOL HasChildren(CTreeCtrl &tree, TVITEMA &item) override;
};
