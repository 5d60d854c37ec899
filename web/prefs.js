// What is remembered for the next visit: the last server, the folders open
// in its tree, and the nodes and stream of the last read. They are saved as
// the user's document (saveUser), which replaces the whole document, so
// every save writes all of it.
import { childNamed, childrenNamed, loadUser, saveUser, textOf } from './gateway.js';
import { showStatus } from './status.js';

// Bounds the document a tree with many folders open would make.
export const MAX_OPEN = 500;

// The preferences in a loadUser answer's root, or null when none were saved.
export function parsePrefs(root) {
  const saved = childNamed(root, 'prefs');
  if (!saved) return null;
  const open = childNamed(saved, 'open');
  return {
    server: textOf(saved, 'server'),
    nodes: textOf(saved, 'nodes'),
    stream: textOf(saved, 'stream'),
    open: open ? childrenNamed(open, 'node').map((e) => e.textContent).slice(0, MAX_OPEN) : [],
  };
}

// Escapes text as XMLSerializer does.
const text = (value) => value.replace(/[&<>]/g, (c) => ({ '&': '&amp;', '<': '&lt;', '>': '&gt;' })[c]);
const element = (name, content) => (content === '' ? `<${name}/>` : `<${name}>${content}</${name}>`);

// The document saveUser keeps for the preferences.
export function prefsXml(prefs) {
  const open = prefs.open.map((id) => element('node', text(id))).join('');
  return element('prefs', ['server', 'nodes', 'stream'].map((name) => element(name, text(prefs[name]))).join('')
    + element('open', open));
}

// The folders to reopen next time, without repeats, at most MAX_OPEN.
export function foldersToKeep(...lists) {
  return Array.from(new Set(lists.flat())).slice(0, MAX_OPEN);
}

// The preferences of this visit, and their saving, for the tree of a
// server (server.js).
export class Preferences {
  constructor(server) {
    this.server = server;
    this.values = { server: '', nodes: '', stream: '', open: [] };
    this.saving = null;
    this.saveTimer = 0;
  }

  // Reads the saved preferences, fills the fields a person has not typed
  // into yet, and opens the remembered server unless the address named
  // one. Saves go one at a time, in order, and only once the saved
  // preferences were read: a save before that would replace what is still
  // to be read.
  load() {
    this.saving = this.adopt().catch((e) => {
      showStatus(document.getElementById('prefs-status'), 'error', e.message);
    });
  }

  async adopt() {
    const saved = parsePrefs(await loadUser());
    if (!saved) return;
    for (const [name, id] of [['server', 'host'], ['nodes', 'nodes'], ['stream', 'stream']]) {
      const field = document.getElementById(id);
      if (field.value === '') field.value = saved[name];
    }
    Object.assign(this.values, { nodes: saved.nodes, stream: saved.stream });
    // A server the address named is open already; its folders are
    // reopened only if it is the one remembered.
    if (this.server.host === '') {
      Object.assign(this.values, { server: saved.server, open: saved.open });
      if (document.getElementById('host').value.trim() !== '') document.getElementById('server-form').requestSubmit();
    } else if (this.server.host === saved.server) {
      this.values.open = saved.open;
      this.server.reopen(saved.open);
    }
  }

  // A server opened in the tree: its remembered folders, which are none
  // for another server than the last.
  serverOpened(host) {
    if (host !== this.values.server) Object.assign(this.values, { server: host, open: [] });
    return this.values.open;
  }

  // A read under More, remembered and saved at once.
  read(host, nodes, stream) {
    this.serverOpened(host);
    Object.assign(this.values, { nodes, stream });
    this.save(true);
  }

  // The tree's opening and closing is saved a moment after it settles.
  scheduleSave() {
    clearTimeout(this.saveTimer);
    this.saveTimer = setTimeout(() => this.save(false), 300);
  }

  // report: say so beside the read; otherwise only a failure is shown,
  // beside the tree. send never rejects, so the chain never breaks.
  save(report) {
    this.saving = this.saving.then(() => this.send(report));
  }

  async send(report) {
    this.values.open = this.server.openFolders(this.values.server) || this.values.open;
    try {
      await saveUser(prefsXml(this.values));
      if (report) {
        showStatus(document.getElementById('prefs-status'), 'ok', 'Server, nodes and stream remembered for your next visit.');
      }
    } catch (e) {
      const status = document.getElementById(report ? 'prefs-status' : 'tree-status');
      showStatus(status, 'error', `Could not remember your choices: ${e.message}`);
    }
  }
}
