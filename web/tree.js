// The node tree of one server: a folder's children are asked for when it is
// first opened, one level at a time, and only the rows in view (and the
// focused one) are in the page, so a folder of ten thousand children opens
// as fast as one of ten. The rows follow the ARIA tree pattern with a
// roving tabindex; since most of a row's siblings are not in the page, each
// carries its aria-level, aria-setsize and aria-posinset. It knows nothing
// of the gateway: the hooks load children and act on a selection. Names
// reach the page through textContent only.
//
// The functions before the class work on the nodes alone, without the page.

// A node as the tree keeps it; info is { id, name, kind }.
export function makeNode(info, parent, index) {
  return {
    id: info.id, name: info.name, kind: info.kind, parent, index,
    level: parent ? parent.level + 1 : 0, children: null, open: false, loading: null, row: -1,
  };
}

// A clip has no children, and neither has a folder found empty; anything
// else may have some.
export function expandable(node) {
  return node.kind !== 'CLIP' && !(node.children && node.children.length === 0);
}

// The nodes from the root down to a node.
export function pathTo(node) {
  const nodes = [];
  for (let at = node; at; at = at.parent) nodes.unshift(at);
  return nodes;
}

export function isUnder(node, ancestor) {
  for (let at = node; at; at = at.parent) if (at === ancestor) return true;
  return false;
}

// Every node loaded under a root, the root first, in view order of a
// fully open tree.
export function* loadedNodes(root) {
  const stack = root ? [root] : [];
  while (stack.length > 0) {
    const node = stack.pop();
    yield node;
    if (node.children) for (let i = node.children.length - 1; i >= 0; i--) stack.push(node.children[i]);
  }
}

// The rows of a tree: the nodes in view order, through open folders only.
// Each node learns its row.
export function viewOrder(root) {
  const rows = [];
  const stack = root ? [root] : [];
  while (stack.length > 0) {
    const node = stack.pop();
    node.row = rows.length;
    rows.push(node);
    if (node.open && node.children) for (let i = node.children.length - 1; i >= 0; i--) stack.push(node.children[i]);
  }
  return rows;
}

// Replaces a folder's children with a fresh list in the server's order,
// keeping what is known of those that stay (their own children, whether
// open, a kind learnt since). Returns the children that left.
export function mergeChildren(node, list) {
  const old = new Map();
  for (const child of node.children || []) if (!old.has(child.id)) old.set(child.id, child);
  node.children = list.map((info, index) => {
    const kept = old.get(info.id);
    old.delete(info.id);
    if (!kept) return makeNode(info, node, index);
    kept.name = info.name;
    if (info.kind) kept.kind = info.kind;
    kept.index = index;
    return kept;
  });
  if (node.children.length === 0) node.open = false;
  return Array.from(old.values());
}

// Takes a child out of its folder.
export function dropChild(parent, node) {
  parent.children = parent.children.filter((child) => child !== node);
  parent.children.forEach((child, index) => { child.index = index; });
  if (parent.children.length === 0) parent.open = false;
}

// The row a name typed so far finds: the first from row start on, round
// to the top, whose name starts with it, ignoring case; null for none.
export function findByName(rows, start, typed) {
  for (let i = 0; i < rows.length; i++) {
    const node = rows[(start + i) % rows.length];
    if (node.name.toLowerCase().startsWith(typed)) return node;
  }
  return null;
}

export function kindName(kind) {
  return kind === 'FOLDER' ? 'folder' : kind === 'CLIP' ? 'clip' : kind || 'kind unknown';
}

// What a row says of its node's kind.
export function kindWords(node) {
  const empty = node.children && node.children.length === 0 && node.kind !== 'CLIP';
  return node.loading ? 'loading…' : empty ? `${kindName(node.kind)}, no children` : kindName(node.kind);
}

export class Tree {
  // view: the scrolling element with role=tree, holding one element with
  // role=none that the rows are placed in. hooks.load(node) resolves to
  // the node's children as [{ id, name, kind }]; hooks.select(node) is told
  // of a selection, hooks.changed() of a folder opened or closed, and
  // hooks.failed(node, error) of a load that failed.
  constructor(view, hooks) {
    this.view = view;
    this.rowsBox = view.firstElementChild;
    this.hooks = hooks;
    this.root = null;
    this.rows = [];          // the nodes in view order, when their folders are open
    this.active = null;      // the row that takes the focus (tabindex 0)
    this.selected = null;
    this.rowHeight = 0;
    this.shown = new Map();  // node -> its row element, for the rows in the page
    this.nodeOf = new WeakMap();
    this.frame = 0;
    this.typed = '';         // what was typed to find a row, until a pause
    this.typedTimer = 0;
    view.addEventListener('scroll', () => this.schedule());
    // Zooming changes the rows' height in pixels.
    window.addEventListener('resize', () => {
      this.rowHeight = 0;
      this.schedule();
    });
    view.addEventListener('click', (event) => this.onClick(event));
    view.addEventListener('keydown', (event) => this.onKey(event));
    view.addEventListener('focusin', (event) => {
      const node = this.nodeOf.get(event.target);
      if (node && node !== this.active) this.setActive(node);
    });
  }

  // Starts over with a root; loads of the old tree are ignored when they end.
  reset(id, name) {
    for (const row of this.shown.values()) row.remove();
    this.shown.clear();
    this.root = makeNode({ id, name, kind: 'FOLDER' }, null, 0);
    this.active = this.root;
    this.selected = null;
    this.view.scrollTop = 0;
    this.refresh();
    return this.root;
  }

  inTree(node) {
    for (let at = node; at; at = at.parent) if (!at.parent) return at === this.root;
    return false;
  }

  visible(node) {
    return node.row >= 0 && this.rows[node.row] === node;
  }

  // Every node loaded so far, in view order of a fully open tree.
  loaded() {
    return loadedNodes(this.root);
  }

  // Opens a folder, loading its children first if they never were; resolves
  // once it is open (or found empty). Two calls share one load.
  expand(node) {
    if (!expandable(node)) return Promise.resolve();
    if (node.children) {
      if (!node.open) {
        node.open = true;
        this.refresh();
        this.hooks.changed();
      }
      return Promise.resolve();
    }
    if (!node.loading) {
      node.loading = this.hooks.load(node).then((children) => {
        node.loading = null;
        if (!this.inTree(node)) return;
        this.setChildren(node, children);
        node.open = node.children.length > 0;
        this.refresh();
        this.hooks.changed();
      }, (error) => {
        node.loading = null;
        this.refresh();
        if (this.inTree(node)) this.hooks.failed(node, error);
        throw error;
      });
      this.refresh();
    }
    return node.loading;
  }

  collapse(node) {
    if (!node.open) return;
    node.open = false;
    if (this.active && !this.visibleAfterCollapse(this.active)) this.active = node;
    this.refresh();
    this.hooks.changed();
  }

  visibleAfterCollapse(node) {
    for (let at = node.parent; at; at = at.parent) if (!at.open) return false;
    return true;
  }

  toggle(node) {
    if (node.open) this.collapse(node);
    else this.expand(node).catch(() => {});
  }

  setChildren(node, list) {
    for (const gone of mergeChildren(node, list)) this.forget(gone);
  }

  // Takes a node out of its folder, after it was destroyed.
  remove(node) {
    const parent = node.parent;
    if (!parent || !parent.children) return;
    dropChild(parent, node);
    this.forget(node);
    this.refresh();
    this.hooks.changed();
  }

  // The focus moves to the parent of a node that leaves, and a selection
  // in it ends.
  forget(node) {
    if (isUnder(this.active, node)) this.active = node.parent;
    if (isUnder(this.selected, node)) this.selected = null;
    node.parent = null;
  }

  // Asks for a folder's children again, after one was made in it, and
  // opens it.
  async reload(node) {
    const children = await this.hooks.load(node);
    if (!this.inTree(node)) return;
    this.setChildren(node, children);
    node.open = node.children.length > 0;
    this.refresh();
    this.hooks.changed();
  }

  // Opens every folder above a loaded node, so that its row is in view.
  openTo(node) {
    let opened = false;
    for (let at = node.parent; at; at = at.parent) {
      if (!at.open) opened = at.open = true;
    }
    if (opened) {
      this.refresh();
      this.hooks.changed();
    }
  }

  update(node, info) {
    if (info.name !== undefined) node.name = info.name;
    if (info.kind) node.kind = info.kind;
    this.refresh();
  }

  select(node) {
    this.selected = node;
    this.setActive(node);
    this.refresh();
    this.hooks.select(node);
  }

  // Makes a row the one that takes the focus, scrolled into view; focus
  // moves there too when asked, or when it was on another row.
  setActive(node, focus = false) {
    const hadFocus = this.view.contains(document.activeElement);
    this.active = node;
    this.render();
    this.scrollTo(node);
    const row = this.shown.get(node);
    if (row && (focus || hadFocus) && document.activeElement !== row) row.focus({ preventScroll: true });
  }

  scrollTo(node) {
    if (!this.visible(node) || !this.rowHeight) return;
    const top = node.row * this.rowHeight;
    const view = this.view;
    if (top < view.scrollTop) view.scrollTop = top;
    else if (top + this.rowHeight > view.scrollTop + view.clientHeight) {
      view.scrollTop = top + this.rowHeight - view.clientHeight;
    }
    this.render();
  }

  // The rows in view order, then the page.
  refresh() {
    this.rows = viewOrder(this.root);
    if (this.active && !this.visible(this.active)) this.active = this.root;
    this.render();
  }

  schedule() {
    if (!this.frame) this.frame = requestAnimationFrame(() => { this.frame = 0; this.render(); });
  }

  // Puts in the page the rows in view, a few around them, and the active
  // one, each where it sits in the whole list. Rows that stay are never
  // moved, so the focused one keeps the focus.
  render() {
    const view = this.view;
    const hadFocus = view.contains(document.activeElement);
    if (!this.rowHeight && this.rows.length > 0) this.rowHeight = this.measure();
    const height = this.rowHeight || 1;
    this.rowsBox.style.height = `${this.rows.length * height}px`;
    const spare = 10;
    const first = Math.max(0, Math.floor(view.scrollTop / height) - spare);
    const last = Math.min(this.rows.length, Math.ceil((view.scrollTop + view.clientHeight) / height) + spare);
    const wanted = this.rows.slice(first, last);
    if (this.active && this.visible(this.active) && (this.active.row < first || this.active.row >= last)) {
      wanted.push(this.active);
      wanted.sort((a, b) => a.row - b.row);
    }
    const keep = new Set(wanted);
    for (const [node, row] of this.shown) {
      if (!keep.has(node)) {
        row.remove();
        this.shown.delete(node);
      }
    }
    let cursor = this.rowsBox.firstElementChild;
    for (const node of wanted) {
      let row = this.shown.get(node);
      if (!row) {
        row = this.makeRow(node);
        this.shown.set(node, row);
      }
      if (row === cursor) cursor = cursor.nextElementSibling;
      else this.rowsBox.insertBefore(row, cursor);
      this.drawRow(row, node, height);
    }
    const active = this.shown.get(this.active);
    if (hadFocus && active && !view.contains(document.activeElement)) active.focus({ preventScroll: true });
  }

  measure() {
    const probe = this.makeRow(this.rows[0]);
    this.rowsBox.appendChild(probe);
    const height = probe.getBoundingClientRect().height;
    probe.remove();
    return height;
  }

  makeRow(node) {
    const row = document.createElement('div');
    row.setAttribute('role', 'treeitem');
    for (const part of ['twisty', 'icon', 'name', 'kind']) {
      const span = document.createElement('span');
      span.className = part;
      if (part === 'twisty' || part === 'icon') span.setAttribute('aria-hidden', 'true');
      row.appendChild(span);
    }
    this.nodeOf.set(row, node);
    return row;
  }

  drawRow(row, node, height) {
    const siblings = node.parent ? node.parent.children.length : 1;
    const kind = node.kind === 'FOLDER' ? 'folder' : node.kind === 'CLIP' ? 'clip' : node.kind ? 'other' : 'unknown';
    const attributes = {
      'aria-level': node.level + 1, 'aria-setsize': siblings, 'aria-posinset': node.index + 1,
      'aria-selected': node === this.selected, 'aria-busy': node.loading !== null,
      'aria-expanded': expandable(node) ? node.open : null, tabindex: node === this.active ? 0 : -1,
      'data-kind': kind, 'data-id': node.id,
    };
    for (const [name, value] of Object.entries(attributes)) {
      if (value === null) row.removeAttribute(name);
      else if (row.getAttribute(name) !== String(value)) row.setAttribute(name, String(value));
    }
    row.style.top = `${node.row * height}px`;
    row.style.setProperty('--level', node.level);
    const [, , name, kindText] = row.children;
    if (name.textContent !== node.name) name.textContent = node.name;
    const words = kindWords(node);
    if (kindText.textContent !== words) kindText.textContent = words;
  }

  onClick(event) {
    const row = event.target.closest('[role=treeitem]');
    const node = row && this.nodeOf.get(row);
    if (!node || !this.visible(node)) return;
    if (event.target.closest('.twisty')) {
      this.setActive(node, true);
      this.toggle(node);
    } else {
      this.select(node);
      this.setActive(node, true);
    }
  }

  onKey(event) {
    const node = this.active;
    if (!node || event.altKey || event.ctrlKey || event.metaKey) return;
    const page = Math.max(1, Math.floor(this.view.clientHeight / (this.rowHeight || 1)) - 1);
    const move = (to) => this.setActive(this.rows[Math.max(0, Math.min(this.rows.length - 1, to))], true);
    switch (event.key) {
      case 'ArrowDown': move(node.row + 1); break;
      case 'ArrowUp': move(node.row - 1); break;
      case 'PageDown': move(node.row + page); break;
      case 'PageUp': move(node.row - page); break;
      case 'Home': move(0); break;
      case 'End': move(this.rows.length - 1); break;
      case 'ArrowRight':
        if (node.open) move(node.row + 1);
        else if (expandable(node)) this.expand(node).catch(() => {});
        break;
      case 'ArrowLeft':
        if (node.open) this.collapse(node);
        else if (node.parent) this.setActive(node.parent, true);
        break;
      case ' ':
        if (this.typed !== '') this.find(' ');
        else this.select(node);
        break;
      case 'Enter':
        this.select(node);
        break;
      default:
        if (event.key.length !== 1) return;
        this.find(event.key);
    }
    event.preventDefault();
  }

  // Letters typed in quick succession move to the next row whose name
  // starts with them, as in a file manager.
  find(char) {
    clearTimeout(this.typedTimer);
    this.typedTimer = setTimeout(() => { this.typed = ''; }, 800);
    this.typed += char.toLowerCase();
    const start = this.typed.length === 1 ? this.active.row + 1 : this.active.row;
    const node = findByName(this.rows, start, this.typed);
    if (node) this.setActive(node, true);
  }
}
