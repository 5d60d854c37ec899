// The open server's node tree: opening a server, showing the node a link
// names, reopening the folders of the last visit, and showing in place
// what the page made or destroyed there.
import { GatewayError, getChildren, getNodeInfo } from './gateway.js';
import { foldersToKeep } from './prefs.js';
import { showStatus } from './status.js';
import { Tree, isUnder } from './tree.js';

const MAX_DEPTH = 256;

export class ServerTree {
  // hooks.opened(host) gives the folders to reopen in a server's tree;
  // hooks.changed() is told of a folder opened or closed, hooks.selected(node)
  // of a selection (null for none), hooks.renamed(node) of a node whose
  // name or kind the server told, hooks.reloaded(node) of a folder whose
  // children were asked for again.
  constructor(hooks) {
    this.hooks = hooks;
    this.rootId = document.body.dataset.root || '/';
    // The server whose tree is shown; generation changes with each opening,
    // so that answers for an earlier tree are dropped. restore: folders of
    // the last visit still to be reopened as they come into view.
    this.host = '';
    this.generation = 0;
    this.restore = new Set();
    // A node named by the address, to be shown once its server is open.
    this.wanted = null;
    this.status = document.getElementById('tree-status');
    this.tree = new Tree(document.getElementById('tree'), {
      load: (node) => getChildren(this.host, node.id),
      select: (node) => hooks.selected(node),
      changed: () => {
        this.restoreOpen();
        hooks.changed();
      },
      failed: (node, e) => showStatus(this.status, 'error', `Could not open ${node.name}: ${e.message}`),
    });
  }

  // Shows a server's tree with its root open; selects the node the address
  // named, or else the root.
  open(host) {
    this.host = host;
    this.generation++;
    this.restore = new Set(this.hooks.opened(host));
    document.getElementById('browser').hidden = false;
    document.getElementById('tree-host').textContent = host;
    showStatus(this.status, 'ok');
    this.hooks.selected(null);
    const tree = this.tree;
    const root = tree.reset(this.rootId, this.rootId);
    tree.expand(root).catch(() => {});
    const target = this.wanted && this.wanted.host === host ? this.wanted.node : null;
    this.wanted = null;
    if (target !== null && target !== this.rootId) {
      getNodeInfo(host, this.rootId).then((info) => { if (tree.root === root) this.renamed(root, info); }, () => {});
      this.reveal(host, target);
    } else {
      tree.select(root);
    }
  }

  // Opens the folders down to a node of the tree and selects it: the
  // node's ancestors come from the server, one getNodeInfo each.
  async reveal(host, id) {
    const generation = this.generation;
    const stale = () => generation !== this.generation;
    const tree = this.tree;
    try {
      const chain = [id];
      for (let at = id; at !== this.rootId;) {
        if (chain.length > MAX_DEPTH) throw new GatewayError(`It is more than ${MAX_DEPTH} levels deep.`);
        const info = await getNodeInfo(host, at);
        if (stale()) return;
        if (info.parentId === '') throw new GatewayError(`It is not under the root node ${this.rootId}.`);
        chain.unshift(info.parentId);
        at = info.parentId;
      }
      let node = tree.root;
      for (const next of chain.slice(1)) {
        await tree.expand(node);
        if (stale()) return;
        const child = (node.children || []).find((c) => c.id === next);
        if (!child) throw new GatewayError(`${next} is not among the children of ${node.id}.`);
        node = child;
      }
      tree.openTo(node);
      tree.select(node);
      tree.setActive(node, document.activeElement === document.body);
    } catch (e) {
      if (!stale()) showStatus(this.status, 'error', `Could not show node ${id}: ${e.message}`);
    }
  }

  // Selects a node of the tree, opening the folders above it, and moves
  // the focus to its row.
  show(node) {
    if (!this.tree.inTree(node)) return;
    this.tree.openTo(node);
    this.tree.select(node);
    this.tree.setActive(node, true);
  }

  // What the server says of a node's name and kind.
  renamed(node, info) {
    this.tree.update(node, { name: info.name || node.id, kind: info.type });
    this.hooks.renamed(node);
  }

  // Folders of the last visit to reopen as they come into view.
  reopen(folders) {
    for (const id of folders) this.restore.add(id);
    this.restoreOpen();
  }

  restoreOpen() {
    if (this.restore.size === 0) return;
    const found = [];
    for (const node of this.tree.loaded()) if (this.restore.has(node.id) && !node.open) found.push(node);
    for (const node of found) {
      this.restore.delete(node.id);
      this.tree.expand(node).catch(() => {});
    }
  }

  // The folders to reopen next time in the tree of server: those open now,
  // and those still to be reopened from the last visit; null when the tree
  // shows another server.
  openFolders(server) {
    if (this.host !== server || !this.tree.root) return null;
    const open = [];
    for (const node of this.tree.loaded()) if (node.open && node !== this.tree.root) open.push(node.id);
    return foldersToKeep(open, Array.from(this.restore));
  }

  // The tree's node of that identifier, when the tree shows that server
  // and has loaded the node.
  loadedNode(host, id) {
    if (host !== this.host) return null;
    for (const node of this.tree.loaded()) if (node.id === id && this.tree.inTree(node)) return node;
    return null;
  }

  // A node was made under parentId: the folder, when the tree has loaded
  // it, is asked for its children again and opens; one whose children
  // were never asked for only when it is selected.
  async made(host, parentId) {
    const parent = this.loadedNode(host, parentId);
    if (!parent || !(parent.children || parent === this.tree.selected)) return;
    await this.tree.reload(parent);
    this.hooks.reloaded(parent);
  }

  // Reads every open folder again, for a page that hears no events; a
  // selection that left moves to the nearest folder that stays.
  async refreshOpen() {
    const generation = this.generation;
    const tree = this.tree;
    const open = Array.from(tree.loaded()).filter((node) => node.open && node.children);
    for (const node of open) {
      if (generation !== this.generation) return;
      if (!tree.inTree(node)) continue;
      const selected = tree.selected;
      await tree.reload(node);
      if (selected && !tree.inTree(selected) && tree.selected === null) tree.select(node);
      this.hooks.reloaded(node);
    }
  }

  // A node was destroyed: its row goes, and a selection in it moves to
  // its folder.
  destroyed(host, id) {
    const gone = this.loadedNode(host, id);
    if (!gone || !gone.parent) return;
    const parent = gone.parent;
    const selectedGone = isUnder(this.tree.selected, gone);
    this.tree.remove(gone);
    if (selectedGone) this.tree.select(parent);
  }
}
